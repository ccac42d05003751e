// Whole image pastes over ssh against the plain OpenSSH commands that move the same PNG, all in
// one run: a warm paste (the connection of the previous upload reused) against
// `ssh <alias> 'cat > file'` over that same connection, a cold paste (no connection to reuse)
// against `scp` of the same file, and the warm paste again with 2,000 extra processes on the
// machine, through local tmux and with 2,000 earlier records in the store. Beside the last
// three it times what the paste must spend there anyway: one snapshot of the pane's foreground
// processes (with and without the extra processes) and one tmux `list-clients`.
// A paste is timed from Control+V until its path is typed into the remote shell (the operation
// is released afterwards, outside the timing). Runs in a private mount namespace with a private
// sshd on 127.0.0.1, as the end-to-end tests do, with the store on the build's file system
// rather than the namespace's tmpfs. bench/paste_over_ssh_vs_ssh prints the ratios.

#include "paste/PasteCoordinator.h"
#include "support/LocalStores.h"
#include "platform/desktop/AppleEventsControl.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/desktop/GhosttyControl.h"
#include "platform/desktop/InputEventsControl.h"
#include "platform/desktop/PasteboardControl.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/foundation/MainThread.h"
#include "session/LocalTmuxClient.h"
#include "session/ProcessInspector.h"
#include "ssh/SSHConnectionReuse.h"
#include "support/Command.h"
#include "support/PrivateNamespace.h"
#include "support/SSHServer.h"
#include "support/TemporaryDirectory.h"
#include "support/TestImages.h"

#include <benchmark/benchmark.h>

#include <csignal>
#include <dirent.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace tarpelix;
using namespace tarpelix::platform;
using namespace tarpelix::testing;

[[maybe_unused]] static const bool privateNamespace =
    enterPrivateMountNamespace({TARPELIX_SOURCE_DIR, TARPELIX_BINARY_DIR});

namespace {

bool runUntil(const std::function<bool()>& condition, double seconds = 60) {
    return RunLoop::main()->runUntil(condition, seconds);
}

// A directory on the build's file system (the namespace covers /tmp with a tmpfs), removed at exit.
class BuildDirectory {
public:
    BuildDirectory() {
        std::string pattern = std::string(TARPELIX_BINARY_DIR) + "/bench-paste-XXXXXX";
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed for " + pattern);
        path = pattern;
    }
    ~BuildDirectory() { runCommand({"/bin/rm", "-rf", path}); }
    std::string path;
};

// Idle processes that only make the process table longer.
class IdleProcesses {
public:
    explicit IdleProcesses(int count) {
        char program[] = "/bin/sleep";
        char seconds[] = "3600";
        char* arguments[] = {program, seconds, nullptr};
        for (int i = 0; i < count; ++i) {
            pid_t pid = 0;
            if (::posix_spawn(&pid, program, nullptr, nullptr, arguments, environ) != 0) break;
            pids_.push_back(pid);
        }
        if (static_cast<int>(pids_.size()) != count) throw std::runtime_error("cannot start the idle processes");
    }
    ~IdleProcesses() {
        for (pid_t pid : pids_) ::kill(pid, SIGKILL);
        for (pid_t pid : pids_) ::waitpid(pid, nullptr, 0);
    }

private:
    std::vector<pid_t> pids_;
};

// The simulated desktop with a Ghostty window running ssh to the private sshd and one running
// ssh inside local tmux, and an armed coordinator. Made once, for every benchmark.
class World {
public:
    World() {
        DesktopControl::reset();
        InputEventsControl::setAccessibilityTrusted(true);
        DesktopControl::setPasteboardAccessBehavior(2);
        AppleEventsControl::setAutomationPermission(GhosttyControl::bundleIdentifier, AutomationAnswer::granted);
        // A screenshot with noisy tiles standing in for photos and thumbnails: about 1.5 MB.
        png = makePNG(PngSpec{.width = 2880, .height = 1800, .colorType = PNG_COLOR_TYPE_RGB,
                              .samples = [screen = screenshotSamples(2880, 1800), noise = noiseSamples(8)](
                                             std::uint32_t x, std::uint32_t y, int c) {
                                  return (x / 16 + y / 16) % 26 == 0 ? noise(x, y, c) : screen(x, y, c);
                              }});
        pngFile = data.write("screenshot.png", std::string(png.begin(), png.end()));
        terminal = GhosttyControl::launch();
        tmuxPane = openRemoteShell({"tmux", "-f", "/dev/null", "new-session", "exec ssh " + SSHServer::alias});
        pane = openRemoteShell({"ssh", SSHServer::alias});

        storage = transferStorageIn(store.path);
        diagnostics = diagnosticStoreIn(store.path);
        coordinator = PasteCoordinator::create({.storage = storage, .diagnostics = diagnostics});
        coordinator->report = [this](const std::string& text) {
            if (text == PasteEventTap::readyReport) tapReady = true;
        };
        coordinator->reportFeedback = [this](const PasteFeedback& feedback) {
            if (feedback.outcome) outcome = feedback.outcome;
            if (feedback.outcome && feedback.outcome != PasteFeedback::Outcome::success)
                std::fprintf(stderr, "bench: the paste ended with \"%s\"\n", feedback.explanation.value_or("").c_str());
        };
        coordinator->start(true);
        if (!runUntil([&] { return tapReady && !coordinator->permissionStatus(); }))
            throw std::runtime_error("the paste was never armed");
        coordinator->refreshPermissions();
    }

    ~World() {
        coordinator.reset();
        terminal.reset();
        server.stop();
    }

    // One paste into the focused pane, timed (when `state` is given) from Control+V until the
    // path is typed; false unless it was. The operation's release is waited for outside the timing.
    bool paste(benchmark::State* state = nullptr) {
        const auto pause = [state] { if (state) state->PauseTiming(); };
        const auto resume = [state] { if (state) state->ResumeTiming(); };
        pause();
        DesktopControl::copyPNG(png);
        outcome.reset();
        resume();
        if (!InputEventsControl::deliver(InputEventsControl::keyEvent(9, true, EventFlag::control)).swallowed)
            return false; // not armed: the terminal took a plain ^V
        InputEventsControl::deliver(InputEventsControl::keyEvent(9, false));
        const bool typed = runUntil([&] { return outcome.has_value(); }) && outcome == PasteFeedback::Outcome::success;
        pause();
        const bool released = runUntil([&] { return !coordinator->isBusy(); });
        terminal->type(focused, "\n"); // the remote loop takes the typed path as a line
        resume();
        return typed && released;
    }

    void focus(const std::string& which) {
        terminal->focusPane(which);
        focused = which;
        coordinator->refreshPermissions();
        runUntil([] { return false; }, 1.5); // one poll of the coordinator arms the tap for this pane
    }

    // The connection the uploads leave behind, if one is up.
    std::string controlPath() const {
        const auto directory = SSHConnectionReuse::directory();
        std::string found;
        if (DIR* dir = ::opendir(directory.c_str())) {
            while (dirent* entry = ::readdir(dir)) {
                if (std::string(entry->d_name).rfind("c-", 0) == 0) found = directory + "/" + entry->d_name;
            }
            ::closedir(dir);
        }
        return found;
    }

    void closeConnection() const {
        auto path = controlPath();
        if (!path.empty()) runCommand({"/usr/bin/ssh", "-o", "ControlPath=" + path, "-O", "exit", SSHServer::alias});
    }

    // Stores `count` finished transfers through the storage service, as earlier pastes would have.
    void addHistory(int count) {
        for (int i = 0; i < count; ++i) {
            TransferRecord record;
            record.createdAt = record.updatedAt = Date::now().addingSeconds(-86400.0 + i);
            record.terminal = "ghostty";
            record.transport = "ssh";
            record.destinationIdentity = "history";
            record.imageSize = 4096;
            record.confirmedRemotePath = "/home/user/.cache/tarpelix/uploads/" + record.id.uuidString() + ".png";
            record.uploadOutcome = TransferOutcome::succeeded;
            record.insertionOutcome = TransferOutcome::succeeded;
            storage->create(record, std::nullopt);
        }
    }

    // scp speaks SFTP to the server, as it does by default.
    SSHServer server{[] {
        SSHServer::Options options;
        options.extraConfig = {"Subsystem sftp internal-sftp"};
        return options;
    }()};
    TemporaryDirectory data{"tarpelix-bench"};
    BuildDirectory store;
    Bytes png;
    std::string pngFile;
    std::shared_ptr<SimulatedTerminal> terminal;
    std::string pane;
    std::string tmuxPane;
    std::string focused;

private:
    std::string openRemoteShell(SimulatedTerminal::Program program) {
        auto opened = terminal->openWindow(std::move(program));
        terminal->type(opened, "echo RE''ADY; while IFS= read -r line; do :; done\n");
        if (!terminal->waitForOutput(opened, "READY", 60)) throw std::runtime_error("the remote shell did not answer");
        focused = opened;
        return opened;
    }

    std::shared_ptr<TransferStorage> storage;
    std::shared_ptr<DiagnosticStore> diagnostics;
    std::shared_ptr<PasteCoordinator> coordinator;
    bool tapReady = false;
    std::optional<PasteFeedback::Outcome> outcome;
};

World* world = nullptr;

void pastes(benchmark::State& state, const std::string& pane) {
    world->focus(pane); // arms the tap again after set-up that kept the main run loop away
    if (!world->paste()) return state.SkipWithError("the first paste failed"); // leaves the connection up
    for (auto _ : state) {
        if (!world->paste(&state)) return state.SkipWithError("a paste failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * world->png.size()));
}

void BM_PasteWarm(benchmark::State& state) { pastes(state, world->pane); }

void BM_SSHCatWarm(benchmark::State& state) {
    if (world->controlPath().empty()) return state.SkipWithError("no connection to reuse");
    const auto path = world->controlPath();
    // The same PNG over the same connection, by the shell the way a user would type it.
    const std::string command = "exec /usr/bin/ssh -o ControlMaster=no -o ControlPath=" + path + " " +
                                SSHServer::alias + " 'cat > /tmp/bench-cat.png' < " + world->pngFile;
    for (auto _ : state) {
        if (runCommand({"/bin/sh", "-c", command}).status != 0) return state.SkipWithError("ssh cat failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * world->png.size()));
}

void BM_PasteCold(benchmark::State& state) {
    world->focus(world->pane);
    for (auto _ : state) {
        state.PauseTiming();
        world->closeConnection();
        state.ResumeTiming();
        if (!world->paste(&state)) return state.SkipWithError("a paste failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * world->png.size()));
}

void BM_ScpCold(benchmark::State& state) {
    for (auto _ : state) {
        auto result = runCommand({"/usr/bin/scp", "-q", "-o", "ControlMaster=no", "-o", "ControlPath=none",
                                  world->pngFile, SSHServer::alias + ":/tmp/bench-scp.png"});
        if (result.status != 0) return state.SkipWithError("scp failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * world->png.size()));
}

// One snapshot of the process table for the pane's terminal, as resolution and each
// revalidation take it.
void snapshots(benchmark::State& state) {
    const ProcessInspector inspector;
    const auto tty = world->terminal->pane(world->pane).tty;
    for (auto _ : state) benchmark::DoNotOptimize(inspector.snapshot(tty));
}

void BM_Snapshot(benchmark::State& state) { snapshots(state); }

std::unique_ptr<IdleProcesses> idle;

void BM_SnapshotProcesses(benchmark::State& state) {
    if (!idle) idle = std::make_unique<IdleProcesses>(2000);
    snapshots(state);
}

void BM_PasteWarmProcesses(benchmark::State& state) {
    if (!idle) idle = std::make_unique<IdleProcesses>(2000);
    pastes(state, world->pane);
}

// One `list-clients` of the local tmux server, as each tmux resolution and revalidation asks.
void BM_ListClients(benchmark::State& state) {
    idle.reset();
    const std::string socket = "/tmp/tmux-" + std::to_string(::getuid()) + "/default";
    for (auto _ : state) {
        auto result = runCommand({"/usr/bin/tmux", "-u", "-N", "-S", socket, "list-clients", "-F",
                                  LocalTmuxClient::format()});
        if (result.status != 0) return state.SkipWithError("list-clients failed");
    }
}

void BM_PasteWarmTmux(benchmark::State& state) { pastes(state, world->tmuxPane); }

void BM_PasteWarmHistory(benchmark::State& state) {
    static const bool added = (world->addHistory(2000), true);
    (void)added;
    pastes(state, world->pane);
}

// Registration order is run order (repetitions of a row run together): the history stays once
// added, and the idle processes live from the first to the second of their rows. Warm rows
// warm up for a second first: the store's files grow during the first pastes, which costs
// their syncs more than later ones.
BENCHMARK(BM_PasteWarm)->MinWarmUpTime(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SSHCatWarm)->MinWarmUpTime(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PasteCold)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScpCold)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Snapshot)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SnapshotProcesses)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PasteWarmProcesses)->MinWarmUpTime(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListClients)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PasteWarmTmux)->MinWarmUpTime(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PasteWarmHistory)->MinWarmUpTime(1)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    initializeProcess();
    if (!privateNamespace) {
        std::fprintf(stderr, "%s\n", privateNamespaceUnavailableReason().c_str());
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    try {
        World made;
        world = &made;
        benchmark::RunSpecifiedBenchmarks();
        idle.reset();
        world = nullptr;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench: %s\n", error.what());
        return 1;
    }
    benchmark::Shutdown();
    return 0;
}
