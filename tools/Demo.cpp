// Tarpelix itself on the simulated desktop, started through the `tarpelix` executable's entry,
// pasting one image: a private sshd on 127.0.0.1, a simulated Ghostty whose pane runs `ssh` to
// it, a screenshot-like image (or the PNG or TIFF given with --image) on the clipboard. While the
// application runs, the demo draws the open status menu to a PNG, presses Control+V, draws the
// status menu again and chooses "Quit Tarpelix" in it; meanwhile it prints each change of the
// status item's tooltip and each feedback stage, and draws the paste overlay to a PNG at each
// change (the PNGs go to the build directory). Once the application has ended it prints what
// arrived in the remote shell's input line and the stored transfer record. Everything it starts
// lives in a private mount namespace (its own /tmp and home directory, where the application
// keeps its data and settings) and is stopped before it exits.

#include "app/AppDelegate.h"
#include "paste/PasteCoordinator.h"
#include "platform/appkit/AppKitControl.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/Renderer.h"
#include "platform/desktop/AppleEventsControl.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/desktop/GhosttyControl.h"
#include "platform/desktop/InputEventsControl.h"
#include "platform/desktop/PasteboardControl.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/foundation/MainThread.h"
#include "storage/TransferStorage.h"
#include "support/PrivateNamespace.h"
#include "support/SSHServer.h"
#include "support/TestImages.h"
#include "windows/PasteOverlayController.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

using namespace tarpelix;
using namespace tarpelix::platform;

namespace {

constexpr double patience = 60.0;

// A desktop of 1440 × 900 with a window: title bar, a dark text area with lines of "text".
Bytes screenshot() {
    const std::uint32_t width = 1440;
    const std::uint32_t height = 900;
    return testing::makePNG(testing::PngSpec{
        .width = width,
        .height = height,
        .colorType = PNG_COLOR_TYPE_RGB,
        .samples = [](std::uint32_t x, std::uint32_t y, int c) -> std::uint32_t {
            const bool inWindow = x >= 160 && x < 1280 && y >= 120 && y < 780;
            if (!inWindow) return c == 2 ? 120 + y / 8 : 40 + (x + y) / 24 % 60; // wallpaper
            if (y < 148) return c == 0 ? 214 : 220;                             // title bar
            const bool line = (y - 160) % 24 < 14 && x >= 184 && x < 184 + (y * 37 % 700);
            if (line) return c == 1 ? 230 : 200; // text
            return 30;                          // terminal background
        }});
}

bool isPNG(const Bytes& data) {
    static const unsigned char signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    return data.size() >= 8 && std::equal(signature, signature + 8, data.begin());
}
bool isTIFF(const Bytes& data) {
    return data.size() >= 4 && ((data[0] == 'I' && data[1] == 'I' && data[2] == 42 && data[3] == 0) ||
                                (data[0] == 'M' && data[1] == 'M' && data[2] == 0 && data[3] == 42));
}

const char* stageName(PasteFeedback::Stage stage) {
    switch (stage) {
    case PasteFeedback::Stage::preparing: return "preparing";
    case PasteFeedback::Stage::resolving: return "resolving";
    case PasteFeedback::Stage::uploading: return "uploading";
    case PasteFeedback::Stage::inserting: break;
    }
    return "inserting";
}

std::string describe(const PasteFeedback& feedback) {
    std::string text = stageName(feedback.stage);
    if (feedback.outcome) {
        text = rawValue(*feedback.outcome);
        if (feedback.explanation) text += ": " + *feedback.explanation;
    } else if (feedback.stage == PasteFeedback::Stage::resolving && feedback.destination) {
        text += " — " + *feedback.destination;
    }
    return text;
}

void line(const std::string& label, const std::string& value) {
    std::printf("  %-24s %s\n", label.c_str(), value.c_str());
    std::fflush(stdout);
}

void fail(const std::string& message) {
    std::fprintf(stderr, "demo: %s\n", message.c_str());
    std::fflush(stderr);
}

int usage() {
    std::fprintf(stderr, "usage: tarpelix_demo [--image FILE]   (FILE: a PNG or TIFF image)\n");
    return 2;
}

// What the user does to the running application, and what it shows meanwhile. The application
// keeps its own callbacks; the demo only looks on after each has run.
class Session {
public:
    explicit Session(std::filesystem::path pictures) : pictures_(std::move(pictures)) {}

    // The scenario, run on the main run loop once the application has launched: true when each
    // step was taken and the application ended after "Quit Tarpelix" was chosen. What the paste
    // delivered is judged afterwards.
    bool run(const std::shared_ptr<AppDelegate>& application, SimulatedTerminal& terminal,
             const std::string& pane) {
        app_ = application;
        if (!app_->servicesStarted()) {
            fail("the application did not start its services");
            return false;
        }
        watchCoordinator();
        noteToolTip();
        if (!runUntil([&] {
                return InputEventsControl::liveTaps() > 0 && !app_->pasteCoordinator()->permissionStatus() &&
                       toolTip_ == "Tarpelix: " + AppDelegate::ready;
            })) {
            fail("the paste was never armed: " + toolTip_);
            return false;
        }
        if (!openStatusMenu("status-menu-before", std::nullopt)) return false;

        std::printf("Control+V\n");
        auto down = InputEventsControl::keyEvent(9, true, EventFlag::control);
        down->keyboardSetUnicodeString(u"\x16");
        const bool held = InputEventsControl::deliver(down).swallowed;
        InputEventsControl::deliver(InputEventsControl::keyEvent(9, false));
        if (!held) {
            fail("Control+V was not held for the pane");
            return false;
        }
        runUntil([&] { return last && last->outcome && !app_->pasteCoordinator()->isBusy(); });
        // The result hides itself half a second after a success.
        const auto& overlay = app_->pasteOverlay()->panel();
        if (runUntil([&] { return !overlay.isVisible(); }, 5)) line("[overlay]", "hidden");

        InputEventsControl::waitUntilDelivered();
        terminal.type(pane, "\n");
        if (terminal.waitForOutput(pane, "GOT[", 10)) {
            const auto closed = [&] {
                const auto output = terminal.output(pane);
                return output.find(']', output.rfind("GOT[")) != std::string::npos;
            };
            if (runUntil(closed, 10)) {
                const auto output = terminal.output(pane);
                const auto start = output.rfind("GOT[") + 4;
                received = output.substr(start, output.find(']', start) - start);
            }
        }

        if (!openStatusMenu("status-menu-after", "Quit Tarpelix")) return false;
        // The quit waits until the paste pipeline has drained; then run() returns.
        return runUntil([] { return Application::shared().hasTerminated(); });
    }

    std::optional<PasteFeedback> last;
    std::string received = "<nothing>";

private:
    // Runs the main run loop until `condition` holds, printing the tooltip whenever it changed.
    bool runUntil(const std::function<bool()>& condition, double seconds = patience) {
        return RunLoop::main()->runUntil(
            [&] {
                noteToolTip();
                return condition();
            },
            seconds);
    }

    // After each of the coordinator's reports has reached the application: the feedback, then the
    // tooltip and the overlay as the application changed them.
    void watchCoordinator() {
        auto& coordinator = *app_->pasteCoordinator();
        coordinator.report = [this, shown = coordinator.report](const std::string& text) {
            shown(text);
            if (text != PasteEventTap::readyReport) line("[report]", text);
            noteToolTip();
        };
        coordinator.reportFeedback = [this, shown = coordinator.reportFeedback](const PasteFeedback& feedback) {
            shown(feedback);
            last = feedback;
            line("[feedback]", describe(feedback));
            noteToolTip();
            noteOverlay();
        };
    }

    void noteToolTip() {
        if (!app_->statusItem()) return;
        const auto& now = app_->statusItem()->button().toolTip();
        if (now == toolTip_) return;
        toolTip_ = now;
        line("[tooltip]", toolTip_);
    }

    // Each time the overlay was drawn anew, the drawing goes to a PNG.
    void noteOverlay() {
        const auto& panel = app_->pasteOverlay()->panel();
        if (!panel.isVisible() || !panel.backingStore() || panel.displayCount() == overlayDisplays_) return;
        overlayDisplays_ = panel.displayCount();
        const auto path = pictures_ / ("overlay-" + std::to_string(++overlayFrames_) + ".png");
        Renderer::writePNG(*panel.backingStore(), path);
        const auto frame = panel.frame();
        char where[96];
        std::snprintf(where, sizeof where, " (at %g, %g, %g × %g)", frame.origin.x, frame.origin.y, frame.size.width,
                      frame.size.height);
        line("[overlay]", path.string() + where);
    }

    // Opens the status menu with a click on its item, draws it to `<name>.png` and prints what
    // it shows; then chooses `choice` in it, or closes it without choosing.
    bool openStatusMenu(const std::string& name, const std::optional<std::string>& choice) {
        std::printf("Status menu%s\n", choice ? (", choosing \"" + *choice + "\"").c_str() : "");
        bool answered = false;
        auto timer = RunLoop::main()->scheduleTimer(0.01, false, TimerMode::common, [&](RunLoopTimer&) {
            const Menu* open = AppKitControl::openMenu();
            if (!open) return;
            const auto path = pictures_ / (name + ".png");
            open->writePNG(path);
            line("[status menu]", path.string());
            for (const auto& item : open->accessibilityLines()) line("", item);
            answered = choice ? AppKitControl::chooseMenuItem(*choice) : AppKitControl::dismissMenu();
        });
        AppKitControl::clickStatusItem(*app_->statusItem());
        if (!answered) fail("the status menu did not open or had no \"" + choice.value_or("") + "\"");
        return answered;
    }

    std::filesystem::path pictures_;
    std::shared_ptr<AppDelegate> app_;
    std::string toolTip_;
    int overlayDisplays_ = 0;
    int overlayFrames_ = 0;
};

int run(const Bytes& image, const std::string& imageDescription) {
    // The application keeps its data and settings in the private /tmp.
    setenv("XDG_DATA_HOME", "/tmp/tarpelix-demo/data", 1);
    setenv("XDG_CONFIG_HOME", "/tmp/tarpelix-demo/config", 1);
    testing::SSHServer server;

    DesktopControl::reset();
    InputEventsControl::setAccessibilityTrusted(true);
    DesktopControl::setPasteboardAccessBehavior(static_cast<int>(PasteboardAccessBehavior::alwaysAllow));
    AppleEventsControl::setAutomationPermission(GhosttyControl::bundleIdentifier, AutomationAnswer::granted);

    std::printf("Tarpelix demo: the application pastes one image on the simulated desktop\n");
    line("sshd", "127.0.0.1:" + std::to_string(server.port()) + " (Host alias " + testing::SSHServer::alias + ")");
    auto terminal = GhosttyControl::launch();
    const auto pane = terminal->openWindow({"ssh", testing::SSHServer::alias});
    line("terminal", "Ghostty, pane " + terminal->pane(pane).tty + " running: ssh " + testing::SSHServer::alias);
    terminal->type(pane, "echo RE''ADY\n");
    if (!terminal->waitForOutput(pane, "READY", patience)) {
        fail("the remote shell did not answer:\n" + terminal->output(pane));
        return 1;
    }
    // The remote shell waits for one line, then shows it: what arrives in its input line.
    terminal->type(pane, "IFS= read -r line; echo \"GO\"\"T[$line]\"\n");

    if (isPNG(image)) {
        DesktopControl::copyPNG(image);
    } else {
        DesktopControl::copyTIFF(image);
    }
    line("clipboard", imageDescription);

    // The PNGs go to the build directory (the private namespace hides /tmp and the home
    // directory), without the frames of an earlier run.
    const std::filesystem::path pictures = std::filesystem::path(TARPELIX_BINARY_DIR) / "demo";
    std::filesystem::remove_all(pictures);
    std::filesystem::create_directories(pictures);
    Session session(pictures);
    std::shared_ptr<AppDelegate> app;
    bool done = false;
    std::printf("Tarpelix starts\n");
    const int status = AppDelegate::runApplication([&](const std::shared_ptr<AppDelegate>& launched) {
        app = launched;
        // From a one-shot timer in the common modes once launching has ended, so the loops the
        // scenario runs serve the main queue and the open menu; a nested loop may see the timer
        // due again, and the scenario runs once.
        auto started = std::make_shared<bool>(false);
        RunLoop::main()->scheduleTimer(0, false, TimerMode::common, [&, started](RunLoopTimer&) {
            if (std::exchange(*started, true)) return;
            done = session.run(app, *terminal, pane);
            const auto& application = Application::shared();
            // A scenario that stopped early still ends the application, as the system would.
            if (!application.hasTerminated() && !application.isWaitingForTerminateReply()) AppKitControl::requestQuit();
        });
    });
    const bool ended = Application::shared().hasTerminated();
    std::printf("Tarpelix ended (run() answered %d)\n", status);

    const auto record = app->transferStorage()->latestConfirmedUpload();
    const auto& last = session.last;
    std::printf("Result\n");
    line("outcome", last && last->outcome ? rawValue(*last->outcome) : "none");
    line("confirmed remote path", record && record->confirmedRemotePath ? *record->confirmedRemotePath : "none");
    line("remote shell input line", session.received);
    if (record && record->confirmedRemotePath) {
        std::ifstream remote(*record->confirmedRemotePath, std::ios::binary);
        Bytes uploaded((std::istreambuf_iterator<char>(remote)), std::istreambuf_iterator<char>());
        line("remote file", std::to_string(uploaded.size()) + " bytes" +
                                (isPNG(image) ? (uploaded == image ? ", identical to the clipboard's PNG" : ", DIFFERENT")
                                              : ", the TIFF converted to PNG"));
    }
    line("stored transfer record", record ? record->json() : "none");

    app.reset();
    terminal.reset();
    server.stop();
    const bool typed = record && record->confirmedRemotePath && session.received == *record->confirmedRemotePath &&
                       last && last->outcome == PasteFeedback::Outcome::success;
    return done && ended && status == 0 && typed ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    initializeProcess();
    Bytes image;
    std::string description;
    if (argc == 3 && std::string(argv[1]) == "--image") {
        // Read before the private namespace hides /tmp and the home directory.
        std::ifstream in(argv[2], std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "demo: cannot read %s\n", argv[2]);
            return 1;
        }
        image.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (!isPNG(image) && !isTIFF(image)) {
            std::fprintf(stderr, "demo: %s is neither a PNG nor a TIFF image\n", argv[2]);
            return 1;
        }
        description = std::string(argv[2]) + ", " + (isPNG(image) ? "PNG" : "TIFF") + ", " +
                      std::to_string(image.size()) + " bytes";
    } else if (argc == 1) {
        image = screenshot();
        description = "generated 1440 × 900 screenshot, PNG, " + std::to_string(image.size()) + " bytes";
    } else {
        return usage();
    }
    if (!testing::enterPrivateMountNamespace({TARPELIX_SOURCE_DIR, TARPELIX_BINARY_DIR})) {
        std::fprintf(stderr, "demo: %s\n", testing::privateNamespaceUnavailableReason().c_str());
        return 1;
    }
    try {
        return run(image, description);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "demo: %s\n", error.what());
        return 1;
    }
}
