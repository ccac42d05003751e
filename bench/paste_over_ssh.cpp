// A whole image paste over ssh against the plain OpenSSH commands that move the same PNG:
// a warm paste (the connection of the previous upload reused) against `ssh <alias> 'cat > file'`
// over that same connection, and a cold paste (no connection to reuse) against `scp` of the
// same file. A paste is timed from Control+V until its operation is released with the path
// typed into the remote shell. Runs in a private mount namespace with a private sshd on
// 127.0.0.1, as the end-to-end tests do; bench/paste_over_ssh_vs_ssh prints the ratios.

#include "paste/PasteCoordinator.h"
#include "paste/coordinator/LocalStores.h"
#include "platform/desktop/AppleEventsControl.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/desktop/GhosttyControl.h"
#include "platform/desktop/InputEventsControl.h"
#include "platform/desktop/PasteboardControl.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/foundation/MainThread.h"
#include "ssh/SSHConnectionReuse.h"
#include "support/Command.h"
#include "support/PrivateNamespace.h"
#include "support/SSHServer.h"
#include "support/TemporaryDirectory.h"
#include "support/TestImages.h"

#include <benchmark/benchmark.h>

#include <dirent.h>
#include <fstream>
#include <stdexcept>

using namespace tarpelix;
using namespace tarpelix::platform;
using namespace tarpelix::testing;

[[maybe_unused]] static const bool privateNamespace =
    enterPrivateMountNamespace({TARPELIX_SOURCE_DIR, TARPELIX_BINARY_DIR});

namespace {

bool runUntil(const std::function<bool()>& condition, double seconds = 60) {
    return RunLoop::main()->runUntil(condition, seconds);
}

// The simulated desktop with a Ghostty pane running ssh to the private sshd, and an armed
// coordinator. Made once, for every benchmark.
class World {
public:
    World() {
        DesktopControl::reset();
        InputEventsControl::setAccessibilityTrusted(true);
        DesktopControl::setPasteboardAccessBehavior(2);
        AppleEventsControl::setAutomationPermission(GhosttyControl::bundleIdentifier, AutomationAnswer::granted);
        // A screenshot-sized PNG of 1440 × 900 with noise in it, so that it does not shrink to nothing.
        png = makePNG(PngSpec{.width = 1440, .height = 900, .colorType = PNG_COLOR_TYPE_RGB,
                              .samples = [](std::uint32_t x, std::uint32_t y, int c) -> std::uint32_t {
                                  return (x / 7 + y / 5) % 3 == 0 ? noiseSamples(8)(x, y, c) : 200;
                              }});
        pngFile = data.write("screenshot.png", std::string(png.begin(), png.end()));
        terminal = GhosttyControl::launch();
        pane = terminal->openWindow({"ssh", SSHServer::alias});
        terminal->type(pane, "echo RE''ADY; while IFS= read -r line; do :; done\n");
        if (!terminal->waitForOutput(pane, "READY", 60)) throw std::runtime_error("the remote shell did not answer");

        storage = transferStorageIn(data.file("store"));
        diagnostics = diagnosticStoreIn(data.file("store"));
        coordinator = PasteCoordinator::create({.storage = storage, .diagnostics = diagnostics});
        coordinator->report = [this](const std::string& text) {
            if (text == PasteEventTap::readyReport) tapReady = true;
        };
        coordinator->reportFeedback = [this](const PasteFeedback& feedback) {
            if (feedback.outcome) outcome = feedback.outcome;
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

    // One paste, from Control+V until the operation is released; false unless the path was typed.
    bool paste() {
        DesktopControl::copyPNG(png);
        outcome.reset();
        auto down = InputEventsControl::keyEvent(9, true, EventFlag::control);
        if (!InputEventsControl::deliver(down).swallowed) coordinator->refreshPermissions();
        InputEventsControl::deliver(InputEventsControl::keyEvent(9, false));
        bool done = runUntil([&] { return outcome && !coordinator->isBusy(); });
        terminal->type(pane, "\n"); // the remote loop takes the typed path as a line
        return done && outcome == PasteFeedback::Outcome::success;
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

    // scp speaks SFTP to the server, as it does by default.
    SSHServer server{[] {
        SSHServer::Options options;
        options.extraConfig = {"Subsystem sftp internal-sftp"};
        return options;
    }()};
    TemporaryDirectory data{"tarpelix-bench"};
    Bytes png;
    std::string pngFile;

private:
    std::shared_ptr<SimulatedTerminal> terminal;
    std::string pane;
    std::shared_ptr<TransferStorage> storage;
    std::shared_ptr<DiagnosticStore> diagnostics;
    std::shared_ptr<PasteCoordinator> coordinator;
    bool tapReady = false;
    std::optional<PasteFeedback::Outcome> outcome;
};

World* world = nullptr;

void BM_PasteWarm(benchmark::State& state) {
    if (!world->paste()) state.SkipWithError("the first paste failed"); // leaves the connection up
    for (auto _ : state) {
        if (!world->paste()) state.SkipWithError("a paste failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * world->png.size()));
}

void BM_SSHCatWarm(benchmark::State& state) {
    if (world->controlPath().empty() && !world->paste()) state.SkipWithError("no connection to reuse");
    const auto path = world->controlPath();
    // The same PNG over the same connection, by the shell the way a user would type it.
    const std::string command = "exec /usr/bin/ssh -o ControlMaster=no -o ControlPath=" + path + " " +
                                SSHServer::alias + " 'cat > /tmp/bench-cat.png' < " + world->pngFile;
    for (auto _ : state) {
        if (runCommand({"/bin/sh", "-c", command}).status != 0) state.SkipWithError("ssh cat failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * world->png.size()));
}

void BM_PasteCold(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        world->closeConnection();
        state.ResumeTiming();
        if (!world->paste()) state.SkipWithError("a paste failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * world->png.size()));
}

void BM_ScpCold(benchmark::State& state) {
    for (auto _ : state) {
        auto result = runCommand({"/usr/bin/scp", "-q", "-o", "ControlMaster=no", "-o", "ControlPath=none",
                                  world->pngFile, SSHServer::alias + ":/tmp/bench-scp.png"});
        if (result.status != 0) state.SkipWithError("scp failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * world->png.size()));
}

BENCHMARK(BM_PasteWarm)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SSHCatWarm)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PasteCold)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScpCold)->UseRealTime()->Unit(benchmark::kMillisecond);

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
        world = nullptr;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench: %s\n", error.what());
        return 1;
    }
    benchmark::Shutdown();
    return 0;
}
