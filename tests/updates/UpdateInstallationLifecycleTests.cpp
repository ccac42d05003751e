#include "updates/UpdateInstallationLifecycle.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace tarpelix {
namespace {

// Drives a lifecycle by named actions and records, after each action's name, every effect
// the lifecycle has on the outside: "changed:suspended", "changed:running", "shutdown",
// "restore", "scheduled", "replyN", "continuationN". The test holds every shutdown
// completion and runs the scheduled steps itself.
class LifecycleScript {
public:
    LifecycleScript() {
        lifecycle_ = UpdateInstallationLifecycle::create(
            [this](UpdateInstallationLifecycle::Completion completion) {
                record("shutdown");
                completions_.push_back(std::move(completion));
            },
            [this] { record("restore"); },
            [this](std::function<void()> step) {
                record("scheduled");
                steps_.push_back(std::move(step));
            });
        lifecycle_->setChanged([this] { record(lifecycle_->isSuspended() ? "changed:suspended" : "changed:running"); });
    }

    // Actions: "postpone", "terminate", "didEnd", "complete" (the latest drain's
    // completion), "completeFirst" (the first drain's), "run" (every step scheduled so far,
    // in order; steps they schedule wait for the next "run"), "release" (the lifecycle goes).
    std::string perform(const std::vector<std::string>& actions) {
        for (const auto& action : actions) {
            log_ << (log_.tellp() > 0 ? " | " : "") << action << ":";
            if (action == "postpone") {
                const int n = ++continuations_;
                EXPECT_TRUE(lifecycle_->postponeRelaunch([this, n] { record("continuation" + std::to_string(n)); }));
            } else if (action == "terminate") {
                const int n = ++replies_;
                lifecycle_->terminate([this, n] { record("reply" + std::to_string(n)); });
            } else if (action == "didEnd") {
                lifecycle_->updateDidEnd();
            } else if (action == "complete" || action == "completeFirst") {
                EXPECT_FALSE(completions_.empty()) << "no drain was started";
                if (!completions_.empty()) (action == "complete" ? completions_.back() : completions_.front())();
            } else if (action == "run") {
                auto steps = std::exchange(steps_, {});
                for (auto& step : steps) step();
            } else if (action == "release") {
                lifecycle_.reset();
            } else {
                ADD_FAILURE() << "unknown action " << action;
            }
        }
        return log_.str();
    }

    const std::shared_ptr<UpdateInstallationLifecycle>& lifecycle() const { return lifecycle_; }

private:
    void record(const std::string& effect) { log_ << " " << effect; }

    std::shared_ptr<UpdateInstallationLifecycle> lifecycle_;
    std::vector<UpdateInstallationLifecycle::Completion> completions_;
    std::vector<std::function<void()>> steps_;
    std::ostringstream log_;
    int continuations_ = 0;
    int replies_ = 0;
};

struct LifecycleCase {
    const char* name;
    std::vector<std::string> actions;
    const char* expected;
    bool suspendedAfter;
};

TEST(UpdateInstallationLifecycleTest, DrainsAndAdvancesAsEachSequenceRequires) {
    const std::vector<LifecycleCase> cases = {
        {"a quit is answered only on the step after the drain, and never restores",
         {"terminate", "complete", "run"},
         "terminate: changed:suspended shutdown | complete: scheduled | run: reply1",
         true},
        {"two quit requests during one drain are answered in order by one step",
         {"terminate", "terminate", "complete", "run"},
         "terminate: changed:suspended shutdown | terminate: | complete: scheduled | run: reply1 reply2",
         true},
        {"a quit after the replies were answered needs no second shutdown",
         {"terminate", "complete", "run", "terminate", "run"},
         "terminate: changed:suspended shutdown | complete: scheduled | run: reply1 | terminate: scheduled | "
         "run: reply2",
         true},
        {"a quit before the drain ends drops the postponed installation",
         {"postpone", "terminate", "complete", "run", "didEnd", "run"},
         "postpone: changed:suspended shutdown | terminate: | complete: scheduled | run: reply1 | didEnd: | run:",
         true},
        {"a quit while an installation runs drops it and is answered at once",
         {"postpone", "complete", "run", "terminate", "run", "didEnd", "run"},
         "postpone: changed:suspended shutdown | complete: scheduled | run: continuation1 | terminate: scheduled | "
         "run: reply1 | didEnd: | run:",
         true},
        {"an installation that ends without relaunching gives the pipeline back",
         {"postpone", "complete", "run", "didEnd", "run"},
         "postpone: changed:suspended shutdown | complete: scheduled | run: continuation1 | didEnd: scheduled | "
         "run: restore changed:running",
         false},
        {"after a restore the next installation starts a new drain",
         {"postpone", "complete", "run", "didEnd", "run", "postpone", "complete", "run"},
         "postpone: changed:suspended shutdown | complete: scheduled | run: continuation1 | didEnd: scheduled | "
         "run: restore changed:running | postpone: changed:suspended shutdown | complete: scheduled | "
         "run: continuation2",
         true},
        {"a cycle ending during the drain discards the continuation and restores at once",
         {"postpone", "didEnd", "complete", "run"},
         "postpone: changed:suspended shutdown | didEnd: | complete: scheduled | run: restore changed:running",
         false},
        {"a cycle ending with no installation changes nothing",
         {"didEnd", "run"},
         "didEnd: | run:",
         false},
        {"a second postponed relaunch while one is pending starts no second drain",
         {"postpone", "postpone", "complete", "run", "postpone", "run"},
         "postpone: changed:suspended shutdown | postpone: | complete: scheduled | run: continuation1 | "
         "postpone: | run:",
         true},
        {"a completion called twice for one drain counts once",
         {"postpone", "complete", "complete", "run"},
         "postpone: changed:suspended shutdown | complete: scheduled | complete: | run: continuation1",
         true},
        {"a completion of an earlier drain is ignored",
         {"postpone", "didEnd", "complete", "run", "terminate", "completeFirst", "run", "complete", "run"},
         "postpone: changed:suspended shutdown | didEnd: | complete: scheduled | run: restore changed:running | "
         "terminate: changed:suspended shutdown | completeFirst: | run: | complete: scheduled | run: reply1",
         true},
        {"a step outrun by a restore is ignored",
         // The drain's step and the cycle end's step are both pending; the first restores,
         // the second finds the state running and does nothing.
         {"postpone", "complete", "didEnd", "run", "run"},
         "postpone: changed:suspended shutdown | complete: scheduled | didEnd: scheduled | "
         "run: restore changed:running | run:",
         false},
        {"completions and steps do nothing once the lifecycle has gone",
         {"terminate", "complete", "release", "run", "complete"},
         "terminate: changed:suspended shutdown | complete: scheduled | release: | run: | complete:",
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LifecycleScript script;
        EXPECT_EQ(script.perform(c.actions), c.expected);
        if (script.lifecycle()) {
            EXPECT_EQ(script.lifecycle()->isSuspended(), c.suspendedAfter);
        }
    }
}

TEST(UpdateInstallationLifecycleDeathTest, StopsWhenAnEntryRunsOffTheMainThread) {
    const auto offMain = [](const std::function<void(UpdateInstallationLifecycle&)>& entry) {
        auto lifecycle = UpdateInstallationLifecycle::create([](auto) {}, [] {}, [](auto) {});
        std::thread([&] { entry(*lifecycle); }).join();
    };
    const char* message = "must be called on the main thread";
    EXPECT_DEATH(offMain([](auto& l) { l.postponeRelaunch([] {}); }), message);
    EXPECT_DEATH(offMain([](auto& l) { l.terminate([] {}); }), message);
    EXPECT_DEATH(offMain([](auto& l) { l.updateDidEnd(); }), message);
    EXPECT_DEATH(
        {
            UpdateInstallationLifecycle::Completion completion;
            auto lifecycle = UpdateInstallationLifecycle::create(
                [&](UpdateInstallationLifecycle::Completion c) { completion = std::move(c); }, [] {}, [](auto) {});
            lifecycle->terminate([] {});
            std::thread([&] { completion(); }).join();
        },
        message);
}

} // namespace
} // namespace tarpelix
