// Tarpelix on the simulated desktop from its first launch to its quit, started as the
// `tarpelix` executable starts it, with a fresh home (no settings, no data). Ghostty, iTerm2 and
// Terminal are installed; Ghostty runs a pane with `ssh` to a private sshd on 127.0.0.1. Setup
// opens by itself and is gone through as a new user would: Ghostty chosen, each permission asked
// for and granted, a practice paste, Launch at Login enabled. Then an everyday paste, a
// Control+V in a local shell that stays a normal paste, Last Paste Status, Settings on Storage,
// the diagnostic report reviewed and saved, and the quit. The demo prints each step, what each
// window says, the status line and the paths typed; every window it opened goes to a PNG in
// <build dir>/demo. It exits 0 only when both image pastes typed their confirmed paths.
// Everything it starts lives in a private mount namespace (its own /tmp and home directory) and
// is stopped before it exits.

#include "DemoScenario.h"
#include "DemoSupport.h"

#include "app/AppDelegate.h"
#include "platform/appkit/AppKitControl.h"
#include "platform/appkit/Application.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/desktop/GhosttyControl.h"
#include "platform/desktop/ITerm2Control.h"
#include "platform/desktop/TerminalAppControl.h"
#include "platform/desktop/WorkspaceControl.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/foundation/MainThread.h"
#include "support/PrivateNamespace.h"
#include "support/SSHServer.h"
#include "support/TemporaryDirectory.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

using namespace tarpelix;
using namespace tarpelix::platform;
using namespace tarpelix::demo;
namespace fs = std::filesystem;

// Fontconfig keeps a few allocations of its one-time set-up out of reach of its clean-up, and
// libcrypto's per-thread state of a queue thread still running at exit is out of the leak
// checker's sight: a sanitizer build's leak checker is told so, as the tests tell it. Without a
// sanitizer nothing calls this.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\nleak:libcrypto.so\n"; }

namespace {

int usage() {
    std::fprintf(stderr, "usage: tarpelix_demo [--image FILE]   (FILE: a PNG or TIFF image)\n");
    return 2;
}

// Ghostty as the user installed it, with the scripting dictionary the compatibility check reads;
// iTerm2 and Terminal installed beside it.
void installTerminals(const fs::path& applications) {
    const auto ghostty = applications / "Ghostty.app";
    fs::create_directories(ghostty / "Contents/Resources");
    fs::copy_file(fs::path(TARPELIX_SOURCE_DIR) / "tools/demo/Ghostty.sdef", ghostty / "Contents/Resources/Ghostty.sdef",
                  fs::copy_options::overwrite_existing);
    WorkspaceControl::installApplication({GhosttyControl::bundleIdentifier, "Ghostty", ghostty.string()});
    WorkspaceControl::installApplication({ITerm2Control::bundleIdentifier, "iTerm2", "/Applications/iTerm.app"});
    WorkspaceControl::installApplication(
        {TerminalAppControl::bundleIdentifier, "Terminal", "/System/Applications/Utilities/Terminal.app"});
    line("installed", "Ghostty (" + ghostty.string() + "), iTerm2, Terminal");
}

void printPaste(const std::string& name, const Scenario::Paste& paste, const Bytes& image) {
    line(name, paste.feedback && paste.feedback->outcome ? rawValue(*paste.feedback->outcome) : "no outcome");
    line("  typed path", paste.typed);
    if (!paste.record) {
        line("  stored record", "none");
        return;
    }
    if (paste.record->confirmedRemotePath) {
        const auto uploaded = testing::readFile(*paste.record->confirmedRemotePath);
        const bool identical = uploaded == std::string(image.begin(), image.end());
        line("  remote file",
             std::to_string(uploaded.size()) + " bytes" +
                 (isPNG(image) ? (identical ? ", identical to the copied PNG" : ", DIFFERENT")
                               : ", the TIFF converted to PNG"));
    }
    printRecord(*paste.record);
}

int run(const Bytes& practiceImage, const std::string& imageDescription) {
    // The application keeps its data and settings in the private /tmp: a fresh home.
    const fs::path home = "/tmp/tarpelix-demo";
    fs::remove_all(home);
    setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    testing::SSHServer server;

    DesktopControl::reset();
    std::printf("Tarpelix demo: the application from its first launch, on the simulated desktop\n");
    line("sshd", "127.0.0.1:" + std::to_string(server.port()) + " (Host alias " + testing::SSHServer::alias + ")");
    installTerminals(home / "Applications");
    auto ghostty = GhosttyControl::launch();
    const auto pane = ghostty->openWindow({"ssh", testing::SSHServer::alias});
    line("terminal", "Ghostty, pane " + ghostty->pane(pane).tty + " running: ssh " + testing::SSHServer::alias);
    ghostty->type(pane, "echo RE''ADY\n");
    if (!ghostty->waitForOutput(pane, "READY", patience)) {
        fail("the remote shell did not answer:\n" + ghostty->output(pane));
        return 1;
    }
    line("practice image", imageDescription);

    // The PNGs go to the build directory, which the private namespace leaves visible.
    Pictures pictures(fs::path(TARPELIX_BINARY_DIR) / "demo");
    const Bytes everydayImage = chart();
    line("everyday image", "generated 800 × 480 chart, PNG, " + std::to_string(everydayImage.size()) + " bytes");
    Scenario scenario({ghostty, pane, practiceImage, everydayImage, pictures.directory() / "diagnostic-report.txt"},
                      pictures);
    std::shared_ptr<AppDelegate> app;
    bool done = false;
    std::printf("\nTarpelix starts\n");
    const int status = AppDelegate::runApplication([&](const std::shared_ptr<AppDelegate>& launched) {
        app = launched;
        // From a one-shot timer in the common modes once launching has ended, so the loops the
        // scenario runs serve the main queue and the open menus; a nested loop may see the
        // timer due again, and the scenario runs once.
        auto started = std::make_shared<bool>(false);
        RunLoop::main()->scheduleTimer(0, false, TimerMode::common, [&, started](RunLoopTimer&) {
            if (std::exchange(*started, true)) return;
            done = scenario.run(app);
            const auto& application = Application::shared();
            // A scenario that stopped early still ends the application, as the system would.
            if (!application.hasTerminated() && !application.isWaitingForTerminateReply()) AppKitControl::requestQuit();
        });
    });
    const bool ended = Application::shared().hasTerminated();
    std::printf("Tarpelix ended (run() answered %d)\n", status);

    step("Result");
    printPaste("practice paste", scenario.practice, practiceImage);
    printPaste("everyday paste", scenario.everyday, everydayImage);
    line("local shell Control+V", scenario.localPassedThrough ? "passed through as a normal paste" : "NOT passed through");
    line("diagnostic report", scenario.reportSaved ? "saved, redacted" : "not saved");
    line("pictures", pictures.directory().string());

    app.reset();
    ghostty.reset();
    server.stop();
    const bool typed = scenario.practice.delivered() && scenario.everyday.delivered();
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
