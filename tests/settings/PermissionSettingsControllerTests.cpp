#include "settings/PermissionFakes.h"

#include <gtest/gtest.h>

#include <utility>

using namespace tarpelix;
using namespace tarpelix::testing;
using Status = GhosttyCompatibility::Status;

namespace {

const std::string& ghostty = GhosttyCompatibility::bundleID;
const std::string iterm = "com.googlecode.iterm2";
const std::string terminal = "com.apple.Terminal";

class PermissionModelTest : public ::testing::Test {
protected:
    void SetUp() override { make(); }

    void make() {
        model = PermissionSettingsController::create(fake.dependencies(), [this] { return now; });
        model->setOnChange([this] { ++changes; });
        model->setPermissionsDidChange([this] { ++requestEnds; });
    }
    const PermissionSettingsController::Snapshot& snap() const { return model->snapshot(); }
    std::size_t probesOf(const std::string& id) const {
        std::size_t count = 0;
        for (const auto& probe : fake.probes) count += probe.id == id;
        return count;
    }

    const FakePermissionSystem::Probe& lastProbe(const std::string& id) const {
        for (auto probe = fake.probes.rbegin(); probe != fake.probes.rend(); ++probe) {
            if (probe->id == id) return *probe;
        }
        throw std::out_of_range(id);
    }

    FakePermissionSystem fake;
    double now = 1000;
    int changes = 0;
    int requestEnds = 0;
    std::shared_ptr<PermissionSettingsController> model;
};

} // namespace

TEST(PermissionSnapshot, MenuSummaryTakesTheFirstProblemInOrder) {
    using A = AutomationStatus;
    struct Row {
        bool accessibility;
        ClipboardStatus clipboard;
        std::map<std::string, A> automation;
        std::optional<std::string> id;
        std::optional<std::string> expected;
    };
    const Row rows[] = {
        {false, ClipboardStatus::ask, {{terminal, A::denied}}, terminal, "Accessibility permission required"},
        {false, ClipboardStatus::alwaysAllow, {}, std::nullopt, "Accessibility permission required"},
        {true, ClipboardStatus::defaultAccess, {{terminal, A::denied}}, terminal, "Clipboard: choose Always Allow"},
        {true, ClipboardStatus::unavailable, {}, std::nullopt, "Clipboard: choose Always Allow"},
        {true, ClipboardStatus::alwaysAllow, {{terminal, A::denied}}, std::nullopt, std::nullopt},
        {true, ClipboardStatus::alwaysAllow, {{terminal, A::denied}}, terminal, "Automation: Not allowed"},
        {true, ClipboardStatus::alwaysAllow, {{terminal, A::checking}}, terminal, "Automation: Checking\u2026"},
        {true, ClipboardStatus::alwaysAllow, {{terminal, A::notRunning}}, terminal, "Automation: Not running"},
        {true, ClipboardStatus::alwaysAllow, {{terminal, A::allowed}}, terminal, std::nullopt},
        {true, ClipboardStatus::alwaysAllow, {{terminal, A::denied}}, iterm, std::nullopt}, // no entry for it
        {true, ClipboardStatus::alwaysAllow, {}, "com.example.editor", std::nullopt},
    };
    for (const auto& row : rows) {
        PermissionSettingsController::Snapshot snapshot;
        snapshot.accessibilityAllowed = row.accessibility;
        snapshot.clipboard = row.clipboard;
        snapshot.automation = row.automation;
        EXPECT_EQ(snapshot.menuSummary(row.id), row.expected) << row.id.value_or("nil");
    }
}

TEST_F(PermissionModelTest, RowActionsPromptOpenPanesOrOnlyReport) {
    struct Row {
        const char* name;
        bool accessibility, inputMonitoring, inputMonitoringGrant;
        ClipboardStatus clipboard;
        std::function<void(PermissionSettingsController&)> press;
        int accessibilityRequests, inputMonitoringRequests, clipboardRequests;
        std::vector<std::string> panes;
        int requestEnds;
        int changes;
    };
    const auto accessibility = [](PermissionSettingsController& m) { m.performAccessibilityAction(); };
    const auto clipboard = [](PermissionSettingsController& m) { m.performClipboardAction(); };
    const auto input = [](PermissionSettingsController& m) { m.requestInputMonitoring(); };
    const auto twice = [](auto press) {
        return [press](PermissionSettingsController& m) { press(m), press(m); };
    };
    const Row rows[] = {
        {"first Accessibility press prompts, the second opens the pane", false, false, false,
         ClipboardStatus::defaultAccess, twice(accessibility), 1, 0, 0, {"Privacy_Accessibility"}, 1, 2},
        {"Accessibility allowed opens the pane", true, false, false, ClipboardStatus::defaultAccess, accessibility, 0,
         0, 0, {"Privacy_Accessibility"}, 0, 0},
        {"clipboard not requested asks", false, false, false, ClipboardStatus::defaultAccess, clipboard, 0, 0, 1, {},
         0, 1},
        {"clipboard set opens the pane", false, false, false, ClipboardStatus::ask, clipboard, 0, 0, 0,
         {"Privacy_Pasteboard"}, 0, 0},
        {"Input Monitoring refused opens the pane", false, false, false, ClipboardStatus::defaultAccess, input, 0, 1,
         0, {"Privacy_ListenEvent"}, 1, 2},
        {"Input Monitoring granted opens nothing", false, false, true, ClipboardStatus::defaultAccess, input, 0, 1, 0,
         {}, 1, 2},
        {"Input Monitoring with Accessibility allowed only reports", true, false, false,
         ClipboardStatus::defaultAccess, input, 0, 0, 0, {}, 0, 1},
        {"Input Monitoring already allowed only reports", false, true, false, ClipboardStatus::defaultAccess, input,
         0, 0, 0, {}, 0, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        fake = FakePermissionSystem{};
        fake.accessibility = row.accessibility;
        fake.inputMonitoring = row.inputMonitoring;
        fake.inputMonitoringGrant = row.inputMonitoringGrant;
        fake.clipboard = row.clipboard;
        make();
        changes = requestEnds = 0;
        row.press(*model);
        EXPECT_EQ(fake.accessibilityRequests, row.accessibilityRequests);
        EXPECT_EQ(fake.inputMonitoringRequests, row.inputMonitoringRequests);
        EXPECT_EQ(fake.clipboardRequests.size(), static_cast<std::size_t>(row.clipboardRequests));
        EXPECT_EQ(fake.panes, row.panes);
        EXPECT_EQ(requestEnds, row.requestEnds);
        EXPECT_EQ(changes, row.changes);
    }
    // After the first prompt the row offers the settings.
    fake = FakePermissionSystem{};
    make();
    EXPECT_EQ(snap().accessibilityAction(), "Request Access\u2026");
    model->performAccessibilityAction();
    EXPECT_TRUE(snap().accessibilityRequested);
    EXPECT_EQ(snap().accessibilityAction(), "Open Settings\u2026");
}

TEST_F(PermissionModelTest, ABusyKeyStartsNothingNewAndARefreshLeavesItsAnswerApplying) {
    fake.running = {{ghostty, false}, {iterm, true}, {terminal, true}};
    model->requestAutomation(terminal);
    model->requestAutomation(terminal);
    model->performClipboardAction();
    model->performClipboardAction();
    ASSERT_EQ(probesOf(terminal), 1u);
    EXPECT_TRUE(fake.probes[0].ask);
    EXPECT_EQ(fake.clipboardRequests.size(), 1u);
    EXPECT_EQ(snap().automation.at(terminal), AutomationStatus::checking);

    model->refresh(); // probes iTerm2, skips the busy Terminal
    EXPECT_EQ(probesOf(terminal), 1u);
    EXPECT_EQ(probesOf(iterm), 1u);
    EXPECT_FALSE(fake.probes[1].ask);
    EXPECT_EQ(snap().automation.at(ghostty), AutomationStatus::notRunning);

    // Answers come back out of order, from other threads.
    answerFromThread([&] { fake.probes[1].answer(AutomationStatus::notDetermined); });
    answerFromThread([&] { fake.probes[0].answer(AutomationStatus::allowed); });
    EXPECT_EQ(snap().automation.at(terminal), AutomationStatus::allowed);
    EXPECT_EQ(snap().automation.at(iterm), AutomationStatus::notDetermined);
    EXPECT_FALSE(snap().busy.contains(terminal));
    EXPECT_EQ(requestEnds, 1);

    // Unknown ids are not terminals of ours.
    model->requestAutomation("com.example.editor");
    model->openTerminal("com.example.editor");
    EXPECT_EQ(fake.probes.size(), 2u);
    EXPECT_FALSE(snap().automation.contains("com.example.editor"));
}

TEST_F(PermissionModelTest, StaleAnswersAreDropped) {
    fake.running = {{ghostty, true}, {iterm, true}, {terminal, true}};

    // The terminal quit before its probe answered.
    model->refresh();
    ASSERT_EQ(fake.probes.size(), 3u);
    fake.running[ghostty] = false;
    model->refresh();
    answerFromThread([&] { fake.probes[0].answer(AutomationStatus::allowed); });
    EXPECT_EQ(snap().automation.at(ghostty), AutomationStatus::notRunning);

    // A newer probe started: the older answer, arriving last, does not overwrite it.
    now += PermissionSettingsController::probeExpiry + 1;
    model->refresh();
    ASSERT_EQ(probesOf(iterm), 2u);
    const auto older = fake.probes[1].answer;
    const auto newer = lastProbe(iterm).answer;
    answerFromThread([&] { newer(AutomationStatus::denied); });
    answerFromThread([&] { older(AutomationStatus::allowed); });
    EXPECT_EQ(snap().automation.at(iterm), AutomationStatus::denied);

    // An answer for a key that is no longer busy (a request answered twice).
    model->requestAutomation(terminal);
    const auto request = fake.probes.back().answer;
    answerFromThread([&] { request(AutomationStatus::denied); });
    answerFromThread([&] { request(AutomationStatus::allowed); });
    EXPECT_EQ(snap().automation.at(terminal), AutomationStatus::denied);
    EXPECT_EQ(requestEnds, 1);

    // The model is gone: late answers of every kind do nothing.
    fake.installations[terminal] = installation::Available{"/Applications/Utilities/Terminal.app"};
    model->openTerminal(terminal);
    model->performClipboardAction();
    model->requestAutomation(terminal);
    ASSERT_EQ(fake.opens.size(), 1u);
    model.reset();
    const int before = changes;
    answerFromThread([&] {
        fake.opens[0].answer(true);
        fake.clipboardRequests[0](ClipboardPermissionSetup::Result::allowed);
        fake.probes.back().answer(AutomationStatus::allowed);
    });
    EXPECT_EQ(changes, before);
}

TEST_F(PermissionModelTest, AProbeThatNeverAnswersBlocksANewOneForTenSecondsOnly) {
    fake.running = {{terminal, true}};
    model->refresh();
    ASSERT_EQ(probesOf(terminal), 1u);
    now += PermissionSettingsController::probeExpiry - 0.5;
    model->refresh();
    EXPECT_EQ(probesOf(terminal), 1u);
    EXPECT_EQ(snap().automation.at(terminal), AutomationStatus::checking);
    now += 1;
    model->refresh();
    ASSERT_EQ(probesOf(terminal), 2u);
    answerFromThread([&] { fake.probes[0].answer(AutomationStatus::allowed); }); // the lost probe, late
    EXPECT_EQ(snap().automation.at(terminal), AutomationStatus::checking);
    answerFromThread([&] { fake.probes[1].answer(AutomationStatus::denied); });
    EXPECT_EQ(snap().automation.at(terminal), AutomationStatus::denied);
    // A real status stays shown while it is probed again.
    now += 1;
    model->refresh();
    EXPECT_EQ(snap().automation.at(terminal), AutomationStatus::denied);
    EXPECT_EQ(probesOf(terminal), 3u);
}

TEST_F(PermissionModelTest, GhosttyInstallationStepsAndCheckAnswers) {
    const Installation missing = installation::Missing{};
    const Installation ambiguous = installation::Ambiguous{};
    const Installation atA = installation::Available{"/Applications/Ghostty.app"};
    const Installation atB = installation::Available{"/Users/me/Applications/Ghostty.app"};
    struct Step {
        const char* name;
        std::optional<Installation> installation; // none: answer a check instead of refreshing
        int answerCheck;                          // which check answers
        Status answer;
        std::optional<Status> expected;
        std::size_t checksStarted;
        bool changes; // the answer called onChange
    };
    const Step steps[] = {
        {"missing", missing, 0, {}, std::nullopt, 0, true},
        {"available", atA, 0, {}, Status::checking, 1, true},
        {"supported", std::nullopt, 0, Status::supported, Status::supported, 1, true},
        {"refreshed: a new check", atA, 0, {}, Status::supported, 2, true},
        {"unchanged answer", std::nullopt, 1, Status::supported, Status::supported, 2, false},
        {"moved while checking", atB, 0, {}, Status::checking, 3, true},
        {"moved again", atA, 0, {}, Status::checking, 4, true},
        {"answer for B dropped", std::nullopt, 2, Status::updateRequired, Status::checking, 4, false},
        {"answer for A", std::nullopt, 3, Status::updateRequired, Status::updateRequired, 4, true},
        {"two instances", ambiguous, 0, {}, Status::unavailable, 4, true},
        {"two instances, refreshed", ambiguous, 0, {}, Status::unavailable, 4, true},
        {"gone", missing, 0, {}, std::nullopt, 4, true},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        const int before = changes;
        if (step.installation) {
            fake.installations[ghostty] = *step.installation;
            model->refresh();
        } else {
            answerFromThread([&] { fake.checks.at(static_cast<std::size_t>(step.answerCheck)).answer(step.answer); });
            EXPECT_EQ(changes > before, step.changes);
        }
        EXPECT_EQ(snap().ghosttyCompatibility, step.expected);
        EXPECT_EQ(fake.checks.size(), step.checksStarted);
    }
    EXPECT_EQ(fake.checks[2].url, "/Users/me/Applications/Ghostty.app");
    EXPECT_EQ(snap().compatibilityMessage(ghostty), std::nullopt);
    EXPECT_FALSE(snap().isTerminalCompatible(ghostty));
    EXPECT_TRUE(snap().isTerminalCompatible(iterm));
}

TEST_F(PermissionModelTest, OpeningATerminalOrThePrereleasePageReportsFailures) {
    model->openTerminal(terminal); // not installed: nothing happens
    EXPECT_TRUE(fake.opens.empty());
    fake.installations[terminal] = installation::Available{"/Applications/Utilities/Terminal.app"};
    model->openTerminal(terminal);
    model->openTerminal(terminal);
    ASSERT_EQ(fake.opens.size(), 1u);
    EXPECT_EQ(fake.opens[0].url, "/Applications/Utilities/Terminal.app");
    fake.running[terminal] = true;
    answerFromThread([&] { fake.opens[0].answer(false); });
    EXPECT_EQ(snap().message.at(terminal), "Couldn\u2019t open this terminal. Try again.");
    EXPECT_EQ(probesOf(terminal), 1u); // the refresh after the launch probes it
    model->openTerminal(terminal);
    EXPECT_FALSE(snap().message.contains(terminal)); // a new request clears it

    fake.openURLSucceeds = false;
    model->openGhosttyPrerelease();
    EXPECT_EQ(fake.urls, std::vector{GhosttyCompatibility::prereleaseURL()});
    EXPECT_EQ(snap().message.at(ghostty), "Couldn\u2019t open the download page. Try again.");
    fake.openURLSucceeds = true;
    model->openGhosttyPrerelease();
    EXPECT_FALSE(snap().message.contains(ghostty));
}

// Every checked entry point stops on its own check, named in the message.
TEST(PermissionModelDeathTest, EveryOperationRequiresTheMainThread) {
    FakePermissionSystem fake;
    EXPECT_DEATH(std::thread([&] { PermissionSettingsController::create(fake.dependencies()); }).join(),
                 "fatal: PermissionSettingsController::create must be called on the main thread");

    auto model = PermissionSettingsController::create(fake.dependencies());
    using Operation = std::function<void(PermissionSettingsController&)>;
    const std::vector<std::pair<std::string, Operation>> operations = {
        {"snapshot", [](auto& m) { (void)m.snapshot(); }},
        {"setOnChange", [](auto& m) { m.setOnChange([] {}); }},
        {"setPermissionsDidChange", [](auto& m) { m.setPermissionsDidChange([] {}); }},
        {"refresh", [](auto& m) { m.refresh(); }},
        {"performAccessibilityAction", [](auto& m) { m.performAccessibilityAction(); }},
        {"performClipboardAction", [](auto& m) { m.performClipboardAction(); }},
        {"requestInputMonitoring", [](auto& m) { m.requestInputMonitoring(); }},
        {"requestAutomation", [](auto& m) { m.requestAutomation("com.apple.Terminal"); }},
        {"openTerminal", [](auto& m) { m.openTerminal("com.apple.Terminal"); }},
        {"openGhosttyPrerelease", [](auto& m) { m.openGhosttyPrerelease(); }},
        {"openPrivacyPane", [](auto& m) { m.openPrivacyPane("Privacy_Accessibility"); }},
    };
    for (const auto& [name, operation] : operations) {
        SCOPED_TRACE(name);
        EXPECT_DEATH(std::thread([&] { operation(*model); }).join(),
                     "fatal: PermissionSettingsController::" + name + " must be called on the main thread");
    }
}
