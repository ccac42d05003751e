// The coordinator under test on the simulated Mac: a Ghostty with a local and (on request) a
// remote pane, real storage and diagnostics, and an upload transport the test holds.
#pragma once

#include "model/TerminalUnavailable.h"
#include "paste/PasteCoordinator.h"
#include "platform/desktop/AccessibilityControl.h"
#include "platform/desktop/AppleEventsControl.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/desktop/GhosttyControl.h"
#include "platform/desktop/InputEventsControl.h"
#include "platform/desktop/PasteboardControl.h"
#include "platform/desktop/SimulatedTerminal.h"
#include "platform/desktop/WorkspaceControl.h"
#include "platform/foundation/LinuxProfile.h"
#include "platform/process/ProcessTable.h"
#include "session/ProcessInspector.h"
#include "storage/TransferStorage.h"
#include "support/LocalStores.h"
#include "support/MainLoop.h"
#include "support/PaneInput.h"
#include "support/PrivateNamespace.h"
#include "support/SilentServer.h"
#include "support/TemporaryDirectory.h"
#include "support/TestImages.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tarpelix::testing {

using platform::SimulatedTerminal;

inline constexpr auto keyV = static_cast<std::uint16_t>(PasteEventTap::triggerKeyCode);
inline constexpr std::uint16_t keyA = 0;

inline const std::string focusOrInputChanged = "Paste cancelled — focus or input changed";

// A small screenshot-like PNG.
inline platform::Bytes screenshotPNG(std::uint32_t width = 64, std::uint32_t height = 40) {
    return makePNG(PngSpec{.width = width, .height = height, .samples = gradientSamples(8)});
}

// A shell in the pane that prints, in octal, the next line it reads: what a keystroke sent.
inline const SimulatedTerminal::Program localShell = {"/bin/sh"};
// Typed into it, the shell prints READY and waits in its `read` builtin (so that its own
// process stays the pane's foreground job) for the line; "026" in what it prints is a ^V.
inline const std::string readOneLine =
    "stty -iexten -echo; echo RE''ADY; IFS= read -r line; printf '%s' \"$line\" | od -An -c\n";

// An upload transport that blocks until the test lets it go, then answers with a path (or
// fails); it ignores cancellation while it blocks, like a slow network.
class BlockingTransport {
public:
    PasteCoordinator::UploadTransport function() {
        return [this](const platform::Bytes&, const SSHSession&, double, const std::shared_ptr<PasteOperation>&,
                      const platform::Uuid& id, const std::function<void(const std::string&)>& confirm) {
            std::unique_lock lock(mutex_);
            ++calls_;
                changed_.notify_all();
            changed_.wait(lock, [&] { return released_; });
            if (fail_) throw TerminalUnavailable(*fail_);
            auto path = "/home/remote/.cache/tarpelix/uploads/" + id.uuidString() + ".png";
            confirm(path);
            return path;
        };
    }
    void release(std::optional<std::string> failure = std::nullopt) {
        std::lock_guard lock(mutex_);
        released_ = true;
        fail_ = std::move(failure);
        changed_.notify_all();
    }
    // Blocks again on the next call.
    void reset() {
        std::lock_guard lock(mutex_);
        released_ = false;
        fail_.reset();
    }
    int calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int calls_ = 0;
    bool released_ = false;
    std::optional<std::string> fail_;
};

// The system's process table, where a test can act just before a listing of a terminal's
// processes (counted from 1), on the thread that lists: between a paste's resolution and
// its re-checks, for instance.
class ActingProcessTable final : public platform::ProcessTable {
public:
    std::vector<platform::ProcessTableEntry> processesOnTerminal(dev_t device) const override {
        const int listing = ++listings_;
        std::function<void(int)> act;
        {
            std::lock_guard lock(mutex_);
            act = act_;
        }
        if (act) act(listing);
        return real_->processesOnTerminal(device);
    }
    std::unique_ptr<platform::ProcessHandle> open(pid_t pid) const override { return real_->open(pid); }
    std::optional<std::size_t> argumentSizeLimit() const override { return real_->argumentSizeLimit(); }

    int listings() const { return listings_; }
    void actBeforeListing(std::function<void(int)> act) {
        std::lock_guard lock(mutex_);
        act_ = std::move(act);
    }

private:
    const std::shared_ptr<const platform::ProcessTable> real_ = platform::ProcessTable::system();
    mutable std::atomic<int> listings_{0};
    mutable std::mutex mutex_;
    std::function<void(int)> act_;
};

// Replaces ~/.ssh/config of the (private) home directory.
inline void writeSSHConfig(const std::string& content) {
    const std::filesystem::path directory = platform::LinuxProfile::passwordDatabaseHome() + "/.ssh";
    std::filesystem::create_directories(directory);
    std::filesystem::permissions(directory, std::filesystem::perms::owner_all);
    std::ofstream(directory / "config") << content;
    std::filesystem::permissions(directory / "config",
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

// Whether the foreground job of the TTY is this program.
inline bool foregroundIs(const std::string& tty, const std::string& executable) {
    try {
        auto snapshot = ProcessInspector().snapshot(tty);
        for (const auto& process : snapshot.processes) {
            if (process.processGroup == snapshot.foregroundGroup && process.executable == executable) return true;
        }
    } catch (const std::exception&) {
    }
    return false;
}

// The simulated Mac with every permission granted, one Ghostty window whose pane runs a
// local shell, and a coordinator with real storage and diagnostics in a temporary directory.
class CoordinatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::DesktopControl::reset();
        platform::InputEventsControl::setAccessibilityTrusted(true);
        platform::DesktopControl::setPasteboardAccessBehavior(2);
        terminal = SimulatedTerminal::launch(terminalKind);
        platform::AppleEventsControl::setAutomationPermission(terminal->bundleIdentifier(),
                                                              platform::AutomationAnswer::granted);
        pane = terminal->openWindow(localShell);
        storage = transferStorageIn(directory.file("store"));
        diagnostics = diagnosticStoreIn(directory.file("store"));
        gate = PastePermissionGate::create();
    }

    void TearDown() override {
        transport.release("test over");
        if (coordinator) {
            // A paste still on its way ends before the coordinator goes.
            runMainUntil([&] { return !coordinator->isBusy(); });
            coordinator.reset();
        }
        // Blocks the paste queue may still hold run and release what they hold.
        runMainUntil([] { return false; }, 0.05);
        terminal.reset();
        silentServer.reset();
        platform::DesktopControl::reset();
    }

    // A coordinator wired to the recorders below; it reads processes through `processTable`.
    void makeCoordinator(PasteCoordinator::Dependencies dependencies = {}) {
        dependencies.resolver = SSHSessionResolver{ProcessInspector(processTable)};
        if (!dependencies.storage) dependencies.storage = storage;
        if (!dependencies.diagnostics) dependencies.diagnostics = diagnostics;
        if (!dependencies.permissionGate) dependencies.permissionGate = gate;
        if (!dependencies.uploadTransport && blockingTransport) dependencies.uploadTransport = transport.function();
        coordinator = PasteCoordinator::create(std::move(dependencies));
        coordinator->report = [this](const std::string& text) { reports.push_back(text); };
        coordinator->reportFeedback = [this](const PasteFeedback& feedback) { feedbacks.push_back(feedback); };
        coordinator->reportPermissionReadiness = [this] { ++readinessReports; };
        coordinator->reportFeedbackOrigin = [this](const platform::Uuid& id,
                                                   const std::optional<PasteCoordinator::Rect>& frame) {
            origins.emplace_back(id, frame);
            if (betweenReceiveAndPrepare) std::exchange(betweenReceiveAndPrepare, nullptr)();
        };
    }

    // A second pane, focused, whose foreground job is an ssh client connected to a server
    // that never answers: a remote destination whose uploads the test's transport decides.
    std::string openRemotePane() {
        silentServer = std::make_unique<SilentServer>();
        writeSSHConfig("Host silent\n  HostName 127.0.0.1\n  Port " + std::to_string(silentServer->port()) +
                       "\n  User tester\n");
        auto remote = terminal->openTab(pane, {"/usr/bin/ssh", "silent"});
        EXPECT_TRUE(runMainUntil([&] { return foregroundIs(terminal->pane(remote).tty, "/usr/bin/ssh"); }));
        return remote;
    }

    // Starts it and waits until the tap holds Control+V for the frontmost terminal.
    void startArmed() {
        if (!coordinator) makeCoordinator();
        coordinator->start(true);
        ASSERT_TRUE(waitArmed(0));
    }

    // Waits until the tap is armed for the terminal: after `readyBefore` connections (when
    // the tap must connect anew), the gate's grant and a refresh that configures the tap.
    bool waitArmed(std::optional<std::size_t> readyBefore = std::nullopt, pid_t pid = 0) {
        if (pid == 0) pid = terminal->pid();
        if (readyBefore && !runMainUntil([&] { return readyReports() > *readyBefore; })) return false;
        return runMainUntil([&] {
            coordinator->refreshPermissions();
            return platform::InputEventsControl::liveTaps() > 0 &&
                   gate->allows({pid, terminal->bundleIdentifier()}) && !coordinator->permissionStatus();
        });
    }

    std::size_t readyReports() const {
        return static_cast<std::size_t>(std::count(reports.begin(), reports.end(), PasteEventTap::readyReport));
    }

    // The explanation a feedback shows for a reason.
    static std::optional<std::string> explanationFor(PasteFeedback::Outcome outcome, const std::string& reason,
                                                     bool uploaded = false) {
        PasteFeedback feedback;
        feedback.finish(outcome, reason, uploaded);
        return feedback.explanation;
    }

    // The shell in the pane waits for one line and prints it between "GOT[" and "]".
    void shellReadsALine(const std::string& handle) { testing::shellReadsALine(*terminal, handle); }

    // Ends the line the shell waits for and returns what it received: a line it prints after
    // the call, never one it printed before.
    std::string lineTheShellReceived(const std::string& handle) {
        if (auto line = testing::lineTheShellReceived(*terminal, handle)) return *line;
        return "<nothing: " + terminal->output(handle) + ">";
    }

    static platform::EventDelivery pressKey(std::uint16_t code) {
        auto delivery = platform::InputEventsControl::deliver(platform::InputEventsControl::keyEvent(code, true));
        platform::InputEventsControl::deliver(platform::InputEventsControl::keyEvent(code, false));
        return delivery;
    }

    // Another application copies text.
    static void copyText(const std::string& text) {
        platform::DesktopControl::copyData(platform::PasteboardType::string, platform::Bytes(text.begin(), text.end()));
    }

    // Key downs the terminal received that carry the marker: replayed pastes.
    std::size_t replays() const {
        std::size_t count = 0;
        for (const auto& event : platform::InputEventsControl::receivedEvents(terminal->pid())) {
            if (event->type() == platform::EventType::keyDown &&
                event->integerValueField(platform::EventField::eventSourceUserData) == PasteEventTap::syntheticTag) {
                ++count;
            }
        }
        return count;
    }

    bool reported(const std::string& text) const {
        return std::find(reports.begin(), reports.end(), text) != reports.end();
    }
    bool waitReported(const std::string& text) {
        return runMainUntil([&] { return reported(text); });
    }

    // Waits until the current paste has ended and released its slot.
    bool waitIdle() {
        return runMainUntil([&] { return !coordinator->isBusy(); });
    }

    // Runs the main loop for a moment, so that anything wrongly scheduled would show.
    static void settle() { runMainUntil([] { return false; }, 0.2); }

    std::vector<DiagnosticEvent> diagnosticEvents() { return diagnostics->snapshot().events; }

    std::optional<PasteFeedback> lastFeedback() const {
        if (feedbacks.empty()) return std::nullopt;
        return feedbacks.back();
    }

    // Set before SetUp: the terminal the test pastes in, and whether uploads go to the
    // blocking transport (or over ssh).
    SimulatedTerminal::Kind terminalKind = SimulatedTerminal::Kind::ghostty;
    bool blockingTransport = true;

    TemporaryDirectory directory{"tarpelix-coordinator"};
    std::unique_ptr<SilentServer> silentServer;
    std::shared_ptr<SimulatedTerminal> terminal;
    std::string pane;
    std::shared_ptr<TransferStorage> storage;
    std::shared_ptr<DiagnosticStore> diagnostics;
    std::shared_ptr<PastePermissionGate> gate;
    std::shared_ptr<ActingProcessTable> processTable = std::make_shared<ActingProcessTable>();
    BlockingTransport transport;
    std::shared_ptr<PasteCoordinator> coordinator;

    std::vector<std::string> reports;
    std::vector<PasteFeedback> feedbacks;
    int readinessReports = 0;
    std::vector<std::pair<platform::Uuid, std::optional<PasteCoordinator::Rect>>> origins;
    // Runs once, in the main-thread turn between the key press and the paste's second step.
    std::function<void()> betweenReceiveAndPrepare;
};

} // namespace tarpelix::testing
