#pragma once

#include "platform/foundation/Uuid.h"

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace tarpelix {

// Decides when the paste pipeline is stopped and started again around an update
// installation or a quit. Before the updater installs and relaunches, and before the
// application terminates, the pipeline is drained (no new pastes, the one in flight
// cancelled); only once it has wound down does the installation or termination go
// ahead. An update cycle that ends without installing gives the pipeline back.
//
// Main thread only: every public entry stops the process when called elsewhere.
// Completions and scheduled steps hold the lifecycle weakly and do nothing once it
// has gone.
class UpdateInstallationLifecycle : public std::enable_shared_from_this<UpdateInstallationLifecycle> {
public:
    using Completion = std::function<void()>;
    // Begins draining the pipeline; must call the completion once, on the main thread,
    // when the pipeline has wound down.
    using Shutdown = std::function<void(Completion)>;
    // Gives the pipeline back after a drain that ended in neither installation nor
    // termination.
    using Restore = std::function<void()>;
    // Runs the work later; by default asynchronously on the main queue.
    using Schedule = std::function<void(std::function<void()>)>;
    // The updater's install-and-relaunch block.
    using Continuation = std::function<void()>;
    // Answers the application's terminate request: it may terminate now.
    using TerminationReply = std::function<void()>;

    static std::shared_ptr<UpdateInstallationLifecycle> create(Shutdown shutdown, Restore restore,
                                                               Schedule schedule = {});

    UpdateInstallationLifecycle(const UpdateInstallationLifecycle&) = delete;
    UpdateInstallationLifecycle& operator=(const UpdateInstallationLifecycle&) = delete;

    // Called when the lifecycle enters or leaves the running state.
    void setChanged(std::function<void()> changed) { changed_ = std::move(changed); }
    const std::function<void()>& changed() const { return changed_; }

    // True while the pipeline is draining or drained.
    bool isSuspended() const { return drainState_ != DrainState::running; }

    // The updater asks whether to postpone its relaunch; always answers true. The
    // continuation runs once the pipeline is drained, unless a quit or another
    // installation came first (then it is dropped).
    bool postponeRelaunch(Continuation continuation);

    // The application asks to terminate; `reply` is called once, when it may.
    void terminate(TerminationReply reply);

    // The updater reports that an update cycle finished or was aborted.
    void updateDidEnd();

private:
    enum class DrainState { running, draining, drained };
    struct Installation {
        // Nil once the installation has been started and awaits the cycle's end.
        std::optional<Continuation> continuation;
    };

    UpdateInstallationLifecycle(Shutdown shutdown, Restore restore, Schedule schedule);

    void beginDrain();
    void scheduleAdvance();
    void scheduleAdvance(platform::Uuid drainID);
    void shutdownCompleted(const platform::Uuid& drainID);
    void advance(const platform::Uuid& drainID);

    Shutdown shutdown_;
    Restore restore_;
    Schedule schedule_;
    DrainState drainState_ = DrainState::running;
    std::optional<platform::Uuid> drainID_;
    std::optional<Installation> installation_;
    bool terminating_ = false;
    std::vector<TerminationReply> terminationReplies_;
    std::function<void()> changed_;
};

} // namespace tarpelix
