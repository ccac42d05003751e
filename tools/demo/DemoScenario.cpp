#include "DemoScenario.h"

#include "app/AppDelegate.h"
#include "onboarding/OnboardingLifecycleController.h"
#include "onboarding/OnboardingWindowController.h"
#include "paste/PasteCoordinator.h"
#include "paste/PasteEventTap.h"
#include "platform/appkit/AppKitControl.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Label.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/Renderer.h"
#include "platform/appkit/TableView.h"
#include "platform/appkit/Window.h"
#include "platform/appkit/WindowDisplay.h"
#include "platform/desktop/AccessibilityControl.h"
#include "platform/desktop/AppleEventsControl.h"
#include "platform/desktop/GhosttyControl.h"
#include "platform/desktop/InputEventsControl.h"
#include "platform/desktop/LoginItemsControl.h"
#include "platform/desktop/PasteboardControl.h"
#include "platform/desktop/Workspace.h"
#include "platform/desktop/WorkspaceControl.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/RunLoop.h"
#include "settings/PermissionActionRow.h"
#include "settings/SettingsWindowController.h"
#include "storage/TransferStorage.h"
#include "support/PaneInput.h"
#include "support/TemporaryDirectory.h"
#include "windows/DiagnosticReportPreviewController.h"
#include "windows/LastPasteWindowController.h"
#include "windows/PasteOverlayController.h"

#include <algorithm>
#include <cstdio>
#include <pwd.h>
#include <unistd.h>

namespace tarpelix::demo {

using namespace platform;
using Step = OnboardingModel::Step;

bool Scenario::run(const std::shared_ptr<AppDelegate>& application) {
    app_ = application;
    if (!app_->servicesStarted()) {
        fail("the application did not start its services");
        return false;
    }
    watchCoordinator();
    noteToolTip();
    return setupOpensByItself() && chooseGhostty() && grantPermissions() && practicePaste() && finishSetup() &&
           everydayPaste() && localShellPaste() && lastPasteStatus() && settingsStorage() && saveReport() && quit();
}

// MARK: Setup

OnboardingWindowController& Scenario::setup() const { return *app_->onboarding()->windowController(); }

bool Scenario::setupOpensByItself() {
    step("Tarpelix launches for the first time: setup opens by itself");
    if (!waitFor("the setup window", [&] {
            const auto* controller = app_->onboarding()->windowController();
            return controller && controller->window().isVisible();
        })) {
        return false;
    }
    pictures_.window(setup().window(), "setup-welcome");
    if (!press(setup().continueButton(), "Get Started")) return false;
    return waitFor("the terminal step", [&] { return app_->onboarding()->model().step() == Step::terminal; });
}

bool Scenario::chooseGhostty() {
    step("Setup: the terminal, Ghostty");
    pictures_.window(setup().window(), "setup-terminal");
    const auto& buttons = setup().terminalButtons();
    const auto ghostty = buttons.find(GhosttyControl::bundleIdentifier);
    if (ghostty == buttons.end()) {
        fail("setup does not list Ghostty");
        return false;
    }
    line("click", "the Ghostty row's radio button (\"" + ghostty->second->accessibilityLabel() + "\")");
    if (!click(*ghostty->second)) return false;
    if (!waitFor("Ghostty chosen", [&] { return setup().chosenTerminalID() == GhosttyControl::bundleIdentifier; }) ||
        !press(setup().continueButton(), "Continue")) {
        return false;
    }
    return waitFor("the permissions step", [&] { return app_->onboarding()->model().step() == Step::permissions; });
}

bool Scenario::grantPermissions() {
    step("Setup: permissions, each asked for and granted");
    // The clipboard request reads what is on the clipboard, so that the system asks.
    DesktopControl::copyPNG(world_.everydayImage);
    line("clipboard", "an image copied, so that the clipboard request can prompt");
    // The Automation row waits for the dictionary check of the installed Ghostty.
    if (!waitFor("Ghostty's scripting dictionary checked", [&] {
            return app_->permissionsController()->snapshot().ghosttyCompatibility ==
                   GhosttyCompatibility::Status::supported;
        })) {
        return false;
    }
    pictures_.window(setup().window(), "setup-permissions");

    const auto onboarding = app_->onboarding();
    const int trustPrompts = AccessibilityControl::trustPrompts();
    if (!grant(
            "Accessibility", setup().accessibilityRow(),
            [&] { return AccessibilityControl::trustPrompts() > trustPrompts; },
            [] { InputEventsControl::setAccessibilityTrusted(true); },
            [&] { return onboarding->windowState().accessibility; }) ||
        !grant(
            "Clipboard", setup().clipboardRow(), [] { return DesktopControl::isPasteboardPromptShowing(); },
            [] { DesktopControl::answerPasteboardPrompt(PasteboardPromptAnswer::alwaysAllow); },
            [&] { return onboarding->windowState().clipboard; })) {
        return false;
    }
    if (!waitFor("Ghostty's Automation checked", [&] { return !onboarding->windowState().automation.busy; }) ||
        !grant(
            "Ghostty Automation", setup().automationRow(),
            [] { return AppleEventsControl::isAutomationPromptShowing(); },
            [] { AppleEventsControl::answerAutomationPrompt(AutomationPromptAnswer::allow); },
            [&] { return onboarding->windowState().automation; })) {
        return false;
    }
    // The window shows what the permission model now holds at its next refresh.
    waitFor("the rows redrawn", [&] { return setup().continueButton().isEnabled(); });
    pictures_.window(setup().window(), "setup-permissions-granted");
    if (!press(setup().continueButton(), "Continue")) return false;
    return waitFor("the first-paste step", [&] { return app_->onboarding()->model().step() == Step::firstPaste; });
}

bool Scenario::grant(const std::string& name, PermissionActionRow& row, const std::function<bool()>& prompted,
                     const std::function<void()>& answer,
                     const std::function<OnboardingWindowController::PermissionState()>& state) {
    line(name, "\"" + row.button().title() + "\" pressed");
    if (!click(row.button())) return false;
    if (!waitFor("the system's " + name + " prompt", prompted)) return false;
    line("", "the system asks; the user allows it");
    answer();
    // The row reads it once the window's next refresh has drawn what the permission model holds.
    if (!waitFor(name + " allowed", [&] {
            const auto now = state();
            return now.allowed && row.status().stringValue() == now.status;
        })) {
        return false;
    }
    line("", "the row reads \"" + row.status().stringValue() + "\"");
    return true;
}

bool Scenario::practicePaste() {
    step("Setup: the practice paste into the ssh pane");
    pictures_.window(setup().window(), "setup-first-paste");
    if (!pasteImage(world_.practiceImage, practice)) return false;
    if (!waitFor("\"First paste complete\"",
                 [&] { return setup().pasteTitleLabel().stringValue() == "First paste complete"; })) {
        return false;
    }
    line("setup says", setup().pasteTitleLabel().stringValue() + " — " + setup().pasteStatusLabel().stringValue());
    pictures_.window(setup().window(), "setup-first-paste-complete");
    if (!press(setup().continueButton(), "Continue")) return false;
    return waitFor("the finish step", [&] { return app_->onboarding()->model().step() == Step::finish; });
}

bool Scenario::finishSetup() {
    step("Setup: Launch at Login, then Finish");
    pictures_.window(setup().window(), "setup-finish");
    if (!press(setup().loginEnableButton(), "Enable")) return false;
    const auto login = app_->loginController();
    if (!waitFor("Launch at Login enabled", [&] {
            return login->state() == LaunchAtLoginController::State::enabled && !login->isBusy() &&
                   setup().continueButton().isEnabled();
        })) {
        return false;
    }
    line("Launch at Login", setup().loginStatusLabel().stringValue());
    pictures_.window(setup().window(), "setup-launch-at-login-enabled");
    if (!press(setup().continueButton(), "Finish")) return false;
    const auto& model = app_->onboarding()->model();
    if (!waitFor("setup closed and completed", [&] { return !setup().window().isVisible() && model.isCompleted(); })) {
        return false;
    }
    line("setup", "completed, first paste verified: " + std::string(model.firstPasteVerified() ? "yes" : "no"));
    return true;
}

// MARK: Pasting

bool Scenario::everydayPaste() {
    step("An everyday paste into the ssh pane");
    return pasteImage(world_.everydayImage, everyday);
}

bool Scenario::pasteImage(const Bytes& image, Paste& paste) {
    const auto& pane = world_.sshPane;
    testing::shellReadsALine(*world_.ghostty, pane);
    if (isPNG(image)) {
        DesktopControl::copyPNG(image);
    } else {
        DesktopControl::copyTIFF(image);
    }
    line("clipboard", std::string(isPNG(image) ? "PNG" : "TIFF") + ", " + std::to_string(image.size()) + " bytes");
    world_.ghostty->focusPane(pane);
    WorkspaceControl::activateApplication(world_.ghostty->pid());
    line("frontmost", "Ghostty, the ssh pane focused");
    if (!waitArmed()) return false;
    last_.reset();
    if (!pressControlV()) return false;
    if (!waitFor("the paste's outcome",
                 [&] { return last_ && last_->outcome && !app_->pasteCoordinator()->isBusy(); })) {
        return false;
    }
    paste.feedback = last_;
    // The result hides itself shortly after a success.
    const auto& overlay = app_->pasteOverlay()->panel();
    if (runUntil([&] { return !overlay.isVisible(); }, 10)) line("[overlay]", "hidden");
    paste.record = app_->transferStorage()->latestConfirmedUpload();
    if (auto typed = readLine(pane)) paste.typed = *typed;
    line("confirmed remote path",
         paste.record && paste.record->confirmedRemotePath ? *paste.record->confirmedRemotePath : "none");
    line("remote shell read", paste.typed);
    if (!paste.delivered()) {
        fail("the remote shell did not receive the confirmed path");
        return false;
    }
    return true;
}

bool Scenario::localShellPaste() {
    step("Control+V in a local shell: a normal paste");
    auto& ghostty = *world_.ghostty;
    const auto pane = ghostty.openWindow();
    line("terminal", "a new Ghostty window, pane " + ghostty.pane(pane).tty + " running /bin/sh");
    // Control+V reaches the shell as a literal character: -iexten keeps the line discipline
    // from taking it as "next character literal".
    ghostty.type(pane, "stty -iexten; echo RE''ADY\n");
    if (!ghostty.waitForOutput(pane, "READY", patience)) {
        fail("the local shell did not answer:\n" + ghostty.output(pane));
        return false;
    }
    ghostty.type(pane, "IFS= read -r line; printf 'GO''T[%s]\\n' \"$(printf '%s' \"$line\" | od -An -tx1 | tr -d ' ')\"\n");
    WorkspaceControl::activateApplication(ghostty.pid());
    if (!waitArmed()) return false;
    const auto before = reports_.size();
    if (!pressControlV()) return false;
    const auto normal = [&] {
        return std::find(reports_.begin() + static_cast<long>(before), reports_.end(), "Normal paste") != reports_.end();
    };
    if (!waitFor("\"Normal paste\"", normal)) {
        line("local shell", ghostty.output(pane));
        return false;
    }
    const auto bytes = readLine(pane);
    line("local shell read", bytes ? "bytes " + *bytes + (*bytes == "16" ? " (Control+V itself)" : "") : "nothing");
    localPassedThrough = bytes == "16";
    if (!localPassedThrough) fail("the local shell did not receive Control+V");
    return localPassedThrough;
}

bool Scenario::waitArmed() {
    // A new window's focus change, or an activation, reaches the paste tap through the main
    // queue; a Control+V pressed before that ran would be stale and stay swallowed, so the
    // user's key comes after it.
    bool reached = false;
    DispatchQueue::main()->async([&] { reached = true; });
    if (!waitFor("the main queue", [&] { return reached; })) return false;
    return waitFor("the paste armed", [&] {
        return InputEventsControl::liveTaps() > 0 && !app_->pasteCoordinator()->permissionStatus() &&
               !app_->pasteCoordinator()->isBusy();
    });
}

bool Scenario::pressControlV() {
    std::printf("  Control+V\n");
    const bool held = testing::pressControlV().swallowed;
    if (!held) fail("Control+V was not held for the pane");
    return held;
}

std::optional<std::string> Scenario::readLine(const std::string& pane) {
    return testing::lineTheShellReceived(*world_.ghostty, pane, 30,
                                         [this](const std::function<bool()>& condition, double seconds) {
                                             return runUntil(condition, seconds);
                                         });
}

// MARK: Windows

bool Scenario::lastPasteStatus() {
    step("Last Paste Status");
    if (!chooseInStatusMenu("Last Paste Status", "status-menu")) return false;
    if (!waitFor("the Last Paste Status window", [&] {
            const auto& controller = app_->lastPasteController();
            return controller && controller->window().isVisible() && controller->isPresented() &&
                   !controller->isLoading() && controller->previewLabel().stringValue() != "Loading preview\u2026";
        })) {
        return false;
    }
    pictures_.window(app_->lastPasteController()->window(), "last-paste-status");
    return true;
}

bool Scenario::settingsStorage() {
    step("Settings: Storage");
    if (!chooseInStatusMenu("Settings")) return false;
    if (!waitFor("the Settings window", [&] {
            const auto& settings = app_->settingsWindow();
            return settings && settings->window().isVisible();
        })) {
        return false;
    }
    auto& settings = *app_->settingsWindow();
    auto* row = settings.sidebar().rowView(static_cast<int>(SettingsSection::storage));
    if (!row) {
        fail("the Settings sidebar has no Storage row");
        return false;
    }
    line("click", "\"Storage\" in the sidebar");
    if (!click(*row)) return false;
    if (!waitFor("the Storage figures", [&] {
            return settings.selectedSection() == SettingsSection::storage && !settings.isLoading() &&
                   !settings.imageCount().stringValue().empty();
        })) {
        line("section", rawValue(settings.selectedSection()));
        line("loading", settings.isLoading() ? "yes" : "no");
        line("images", settings.imageCount().stringValue());
        return false;
    }
    for (auto* figure : {&settings.imageSize(), &settings.imageCount(), &settings.recordCount(),
                         &settings.databaseSize(), &settings.storageStatus()}) {
        if (!figure->stringValue().empty()) line("figure", figure->stringValue());
    }
    pictures_.window(settings.window(), "settings-storage");
    return true;
}

bool Scenario::saveReport() {
    step("Settings: Diagnostics, the report reviewed and saved");
    auto& settings = *app_->settingsWindow();
    auto* row = settings.sidebar().rowView(static_cast<int>(SettingsSection::diagnostics));
    if (!row) {
        fail("the Settings sidebar has no Diagnostics row");
        return false;
    }
    line("click", "\"Diagnostics\" in the sidebar");
    if (!click(*row)) return false;
    if (!waitFor("the Diagnostics page", [&] { return settings.selectedSection() == SettingsSection::diagnostics; })) {
        return false;
    }
    pictures_.window(settings.window(), "settings-diagnostics");
    if (!press(settings.reviewReportButton(), "Review\u2026")) return false;
    if (!waitFor("the report window", [&] {
            const auto* preview = settings.reportPreview();
            return preview && preview->window().isVisible();
        })) {
        return false;
    }
    auto& preview = *settings.reportPreview();
    const std::string text = preview.text();
    pictures_.window(preview.window(), "report-preview");
    if (!press(preview.saveButton(), "Save\u2026")) return false;
    if (!waitFor("the save panel", [&] { return preview.window().attachedSheet() != nullptr; })) return false;
    pictures_.sheet(preview.window(), "report-save-panel");
    const auto path = world_.reportFile;
    line("save panel", "answered with " + path.string());
    if (!AppKitControl::answerSavePanel(*preview.window().attachedSheet(), path)) {
        fail("the save panel could not be answered");
        return false;
    }
    // The window closes once the file is written.
    if (!waitFor("the report saved", [&] {
            const auto* open = settings.reportPreview();
            return (!open || !open->window().isVisible()) && std::filesystem::exists(path);
        })) {
        return false;
    }
    const auto saved = testing::readFile(path.string());
    reportSaved = saved == text;
    line("report file", std::to_string(saved.size()) + " bytes, " +
                            (reportSaved ? "the text reviewed" : "NOT the text reviewed"));
    // Redacted: nothing of the host, the paths or the user.
    const auto* account = ::getpwuid(::geteuid());
    const std::string user = account ? account->pw_name : "root";
    for (const std::string& secret : std::vector<std::string>{"127.0.0.1", "/tmp/", "/home/", ".png", "@" + user}) {
        if (saved.find(secret) != std::string::npos) {
            reportSaved = false;
            fail("the saved report holds \"" + secret + "\"");
        }
    }
    return reportSaved;
}

bool Scenario::quit() {
    step("Quit");
    if (!chooseInStatusMenu("Quit Tarpelix", "status-menu-at-quit")) return false;
    // The quit waits until the paste pipeline has drained; then run() returns.
    return waitFor("the application ended", [] { return Application::shared().hasTerminated(); });
}

// MARK: Acting and looking on

bool Scenario::press(Button& button, const std::string& title) {
    if (!waitFor("\"" + title + "\" enabled", [&] {
            return button.title() == title && button.isEnabled() && !button.isHiddenOrHasHiddenAncestor();
        })) {
        line("", "the button reads \"" + button.title() + "\"");
        return false;
    }
    line("press", "\"" + title + "\"");
    return click(button);
}

bool Scenario::click(View& view) {
    // A click into a window that is not the key window of the active application only brings
    // it forward, as on the Mac: the user clicks its title bar first.
    auto* window = view.window();
    if (!window) {
        fail("clicked a view outside any window");
        return false;
    }
    if (!Application::shared().isActive() || !window->isKeyWindow()) {
        const auto frame = window->frame();
        line("click", "the title bar of \"" + window->title() + "\"");
        AppKitControl::clickAt({frame.origin.x + frame.size.width / 2, frame.origin.y + frame.size.height - 12});
        if (!waitFor("\"" + window->title() + "\" in front",
                     [&] { return Application::shared().isActive() && window->isKeyWindow(); })) {
            return false;
        }
    }
    // The toolkit draws a window only when asked; on the Mac the window server has drawn it
    // before the user can click into it, so every visible window is drawn first.
    WindowDisplay::displayVisibleWindowsIfNeeded();
    AppKitControl::click(view);
    return true;
}

bool Scenario::chooseInStatusMenu(const std::string& choice, const std::optional<std::string>& picture) {
    line("status menu", "choosing \"" + choice + "\"");
    bool chosen = false;
    auto timer = RunLoop::main()->scheduleTimer(0.01, false, TimerMode::common, [&](RunLoopTimer&) {
        const Menu* open = AppKitControl::openMenu();
        if (!open) return;
        if (picture) pictures_.menu(*open, *picture);
        chosen = AppKitControl::chooseMenuItem(choice);
        if (!chosen) AppKitControl::dismissMenu();
    });
    // The timer's block refers to this frame: it must not outlive it, whichever way it is left.
    struct InvalidatedOnExit {
        RunLoopTimer& timer;
        ~InvalidatedOnExit() { timer.invalidate(); }
    } const invalidated{*timer};
    AppKitControl::clickStatusItem(*app_->statusItem());
    if (!chosen) fail("the status menu did not open or had no \"" + choice + "\"");
    return chosen;
}

bool Scenario::runUntil(const std::function<bool()>& condition, double seconds) {
    return RunLoop::main()->runUntil(
        [&] {
            noteToolTip();
            return condition();
        },
        seconds);
}

bool Scenario::waitFor(const std::string& what, const std::function<bool()>& condition, double seconds) {
    if (runUntil(condition, seconds)) return true;
    fail("gave up waiting for " + what);
    return false;
}

// After each of the coordinator's reports has reached the application: the report or feedback,
// then the tooltip and the overlay as the application changed them.
void Scenario::watchCoordinator() {
    auto& coordinator = *app_->pasteCoordinator();
    coordinator.report = [this, shown = coordinator.report](const std::string& text) {
        shown(text);
        reports_.push_back(text);
        if (text != PasteEventTap::readyReport) line("[report]", text);
        noteToolTip();
    };
    coordinator.reportFeedback = [this, shown = coordinator.reportFeedback](const PasteFeedback& feedback) {
        shown(feedback);
        last_ = feedback;
        line("[feedback]", describe(feedback));
        noteToolTip();
        noteOverlay();
    };
}

void Scenario::noteToolTip() {
    if (!app_ || !app_->statusItem()) return;
    const auto& now = app_->statusItem()->button().toolTip();
    if (now == toolTip_) return;
    toolTip_ = now;
    line("[status]", toolTip_);
}

// Each time the overlay was drawn anew, the drawing goes to a PNG.
void Scenario::noteOverlay() {
    const auto& panel = app_->pasteOverlay()->panel();
    if (!panel.isVisible() || !panel.backingStore() || panel.displayCount() == overlayDisplays_) return;
    overlayDisplays_ = panel.displayCount();
    const auto path = pictures_.next("overlay");
    Renderer::writePNG(*panel.backingStore(), path);
    line("[overlay]", path.string());
}

} // namespace tarpelix::demo
