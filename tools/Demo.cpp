// A whole image paste on the simulated desktop: a private sshd on 127.0.0.1, a simulated
// Ghostty whose pane runs `ssh` to it, a screenshot-like image (or the PNG or TIFF given with
// --image) on the clipboard, Control+V, and what each step of the paste showed, with the paste
// overlay drawn to a PNG in the build directory at each change. Everything it starts lives in a
// private mount namespace (its own /tmp and home directory) and is stopped before it exits.

#include "paste/PasteCoordinator.h"
#include "platform/appkit/Renderer.h"
#include "support/LocalStores.h"
#include "platform/desktop/AppleEventsControl.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/desktop/GhosttyControl.h"
#include "platform/desktop/InputEventsControl.h"
#include "platform/desktop/PasteboardControl.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/foundation/MainThread.h"
#include "support/PrivateNamespace.h"
#include "support/SSHServer.h"
#include "support/TemporaryDirectory.h"
#include "support/TestImages.h"
#include "windows/PasteOverlayController.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>

using namespace tarpelix;
using namespace tarpelix::platform;

namespace {

constexpr double patience = 60.0;

bool runUntil(const std::function<bool()>& condition, double seconds = patience) {
    return RunLoop::main()->runUntil(condition, seconds);
}

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

void line(const std::string& label, const std::string& value) {
    std::printf("  %-24s %s\n", label.c_str(), value.c_str());
    std::fflush(stdout);
}

int usage() {
    std::fprintf(stderr, "usage: tarpelix_demo [--image FILE]   (FILE: a PNG or TIFF image)\n");
    return 2;
}

int run(const Bytes& image, const std::string& imageDescription) {
    testing::SSHServer server;
    testing::TemporaryDirectory data("tarpelix-demo");

    DesktopControl::reset();
    InputEventsControl::setAccessibilityTrusted(true);
    DesktopControl::setPasteboardAccessBehavior(static_cast<int>(PasteboardAccessBehavior::alwaysAllow));
    AppleEventsControl::setAutomationPermission(GhosttyControl::bundleIdentifier, AutomationAnswer::granted);

    std::printf("Tarpelix demo: one image paste on the simulated desktop\n");
    line("sshd", "127.0.0.1:" + std::to_string(server.port()) + " (Host alias " + testing::SSHServer::alias + ")");
    auto terminal = GhosttyControl::launch();
    const auto pane = terminal->openWindow({"ssh", testing::SSHServer::alias});
    line("terminal", "Ghostty, pane " + terminal->pane(pane).tty + " running: ssh " + testing::SSHServer::alias);
    terminal->type(pane, "echo RE''ADY\n");
    if (!terminal->waitForOutput(pane, "READY", patience)) {
        std::fprintf(stderr, "demo: the remote shell did not answer:\n%s\n", terminal->output(pane).c_str());
        return 1;
    }
    // The remote shell waits for one line, then shows it: what arrives in its input line.
    terminal->type(pane, "IFS= read -r line; echo \"GO\"\"T[$line]\"\n");

    auto storage = testing::transferStorageIn(data.file("Tarpelix"));
    auto diagnostics = testing::diagnosticStoreIn(data.file("Tarpelix"));

    auto coordinator = PasteCoordinator::create({.storage = storage, .diagnostics = diagnostics});
    // The overlay on the desktop's one 1440 × 900 screen; each time it is drawn, the drawing goes
    // to a PNG in the build directory (the private namespace hides /tmp and the home directory).
    const std::filesystem::path overlayDirectory = std::filesystem::path(TARPELIX_BINARY_DIR) / "demo";
    std::filesystem::create_directories(overlayDirectory);
    int overlayFrames = 0;
    auto overlay = PasteOverlayController::create(
        true, PasteOverlayController::currentScreens, PasteOverlayController::scheduleTimer, [&](Panel& panel) {
            PasteOverlayController::presentPanel(panel);
            if (!panel.backingStore()) return;
            const auto path = overlayDirectory / ("overlay-" + std::to_string(++overlayFrames) + ".png");
            Renderer::writePNG(*panel.backingStore(), path);
            const auto frame = panel.frame();
            char where[96];
            std::snprintf(where, sizeof where, " (at %g, %g, %g × %g)", frame.origin.x, frame.origin.y, frame.size.width,
                          frame.size.height);
            line("[overlay]", path.string() + where);
        });
    coordinator->reportFeedbackOrigin = [&](const Uuid& id, const std::optional<PasteCoordinator::Rect>& frame) {
        std::optional<Rect> accessibilityFrame;
        if (frame) accessibilityFrame = Rect{frame->origin.x, frame->origin.y, frame->size.width, frame->size.height};
        overlay->setOrigin(id, accessibilityFrame);
    };
    std::optional<PasteFeedback> last;
    bool tapReady = false;
    coordinator->report = [&](const std::string& text) {
        if (text == PasteEventTap::readyReport) {
            tapReady = true;
            return;
        }
        line("[status]", text);
    };
    coordinator->reportFeedback = [&](const PasteFeedback& feedback) {
        last = feedback;
        std::string text = stageName(feedback.stage);
        if (feedback.outcome) {
            text = rawValue(*feedback.outcome);
            if (feedback.explanation) text += ": " + *feedback.explanation;
        } else if (feedback.stage == PasteFeedback::Stage::resolving && feedback.destination) {
            text += " — " + *feedback.destination;
        }
        line("[feedback]", text);
        overlay->receive(feedback);
    };
    coordinator->start(true);
    // Armed once the tap runs and nothing is missing; the refresh arms it at once rather than
    // at the next one-second poll.
    if (!runUntil([&] { return tapReady && !coordinator->permissionStatus(); })) {
        std::fprintf(stderr, "demo: the paste was never armed: %s\n", coordinator->permissionStatus().value_or("").c_str());
        return 1;
    }
    coordinator->refreshPermissions();

    if (isPNG(image)) {
        DesktopControl::copyPNG(image);
    } else {
        DesktopControl::copyTIFF(image);
    }
    line("clipboard", imageDescription);

    std::printf("Control+V\n");
    auto down = InputEventsControl::keyEvent(9, true, EventFlag::control);
    down->keyboardSetUnicodeString(u"\x16");
    const bool held = InputEventsControl::deliver(down).swallowed;
    InputEventsControl::deliver(InputEventsControl::keyEvent(9, false));
    if (!held) {
        std::fprintf(stderr, "demo: Control+V was not held for the pane\n");
        return 1;
    }
    runUntil([&] { return last && last->outcome && !coordinator->isBusy(); });
    // The result hides itself half a second after a success.
    if (runUntil([&] { return !overlay->panel().isVisible(); }, 5)) line("[overlay]", "hidden");

    auto record = storage->latestConfirmedUpload();
    std::string received = "<nothing>";
    InputEventsControl::waitUntilDelivered();
    terminal->type(pane, "\n");
    if (terminal->waitForOutput(pane, "GOT[", 10)) {
        runUntil([&] { return terminal->output(pane).find(']', terminal->output(pane).rfind("GOT[")) != std::string::npos; }, 10);
        auto output = terminal->output(pane);
        auto start = output.rfind("GOT[") + 4;
        received = output.substr(start, output.find(']', start) - start);
    }

    std::printf("Result\n");
    line("outcome", last && last->outcome ? rawValue(*last->outcome) : "none");
    line("confirmed remote path", record && record->confirmedRemotePath ? *record->confirmedRemotePath : "none");
    line("remote shell input line", received);
    if (record && record->confirmedRemotePath) {
        std::ifstream remote(*record->confirmedRemotePath, std::ios::binary);
        Bytes uploaded((std::istreambuf_iterator<char>(remote)), std::istreambuf_iterator<char>());
        line("remote file", std::to_string(uploaded.size()) + " bytes" +
                                (isPNG(image) ? (uploaded == image ? ", identical to the clipboard's PNG" : ", DIFFERENT")
                                              : ", the TIFF converted to PNG"));
    }
    line("stored transfer record", record ? record->json() : "none");

    coordinator.reset();
    overlay.reset();
    terminal.reset();
    server.stop();
    const bool typed = record && record->confirmedRemotePath && received == *record->confirmedRemotePath &&
                       last && last->outcome == PasteFeedback::Outcome::success;
    return typed ? 0 : 1;
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
