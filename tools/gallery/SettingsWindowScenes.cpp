// The Settings window as a user opens it, at its opening size and at its minimum size: each
// section; the Storage page without figures, memory-only with a clear waiting, during and after
// a clear and under its confirmation sheet; the Diagnostics page with a log warning, a paste in
// flight and the report being prepared; the General page with launch at login updating or
// waiting for approval and with updates not configured; Permissions without a model; dark and
// Increase Contrast.

#include "gallery/GalleryScenes.h"

#include "platform/appkit/AppKitControl.h"
#include "platform/desktop/SystemSettingsControl.h"
#include "platform/desktop/Workspace.h"
#include "platform/foundation/UserDefaults.h"
#include "settings/SettingsWindowController.h"
#include "windows/DashboardView.h"

#include <filesystem>
#include <map>
#include <unistd.h>

namespace tarpelix::gallery {

using namespace platform;

namespace {

using Controller = SettingsWindowController;
using LoginState = LaunchAtLoginController::State;

const std::vector<std::string> states = {
    "dashboard",        "general",        "permissions",          "storage",
    "diagnostics",      "help",           "storage-unavailable",  "memory-only",
    "log-warning",      "paste-in-flight", "preparing",           "confirmation",
    "cleared",          "clear-failed",   "login-updating",       "login-approval",
    "updates-not-configured",             "permissions-no-model", "dark",
    "contrast",
};

const std::vector<std::string> minimumStates = {"dashboard",   "general", "permissions", "storage",
                                                "diagnostics", "help",    "memory-only", "log-warning"};

SettingsSnapshot snapshotFor(const std::string& state) {
    SettingsSnapshot snapshot;
    StorageHealth usage;
    usage.recordCount = 1234;
    usage.imageCount = 48;
    usage.imageBytes = 83'400'000;
    usage.databaseBytes = 1'250'000;
    snapshot.storage.usage = usage;
    snapshot.storage.pasteUsage = PasteUsage{1234, 3, 41, Date{789059040}}; // Jan 2, 2026
    if (state == "storage-unavailable") {
        snapshot.storage.usage.reset();
        snapshot.storage.pasteUsage.reset();
    }
    if (state == "memory-only") {
        snapshot.storage.memoryOnly = true;
        snapshot.storage.clearPending = true;
    }
    if (state == "log-warning") snapshot.diagnostics.lastFailure = DiagnosticError::writeFailed;
    return snapshot;
}

SettingsSection sectionFor(const std::string& state) {
    static const std::map<std::string, SettingsSection> sections = {
        {"dashboard", SettingsSection::dashboard},
        {"general", SettingsSection::general},
        {"login-updating", SettingsSection::general},
        {"login-approval", SettingsSection::general},
        {"updates-not-configured", SettingsSection::general},
        {"permissions", SettingsSection::permissions},
        {"permissions-no-model", SettingsSection::permissions},
        {"diagnostics", SettingsSection::diagnostics},
        {"log-warning", SettingsSection::diagnostics},
        {"paste-in-flight", SettingsSection::diagnostics},
        {"preparing", SettingsSection::diagnostics},
        {"help", SettingsSection::help},
        {"dark", SettingsSection::storage},
        {"contrast", SettingsSection::general},
    };
    auto found = sections.find(state);
    return found == sections.end() ? SettingsSection::storage : found->second;
}

// A permission system that answers at once: Accessibility and the clipboard allowed, Ghostty
// and Terminal allowed, iTerm2 not installed.
std::shared_ptr<PermissionSettingsController> permissionModel() {
    PermissionSettingsController::Dependencies d;
    d.accessibility = [] { return true; };
    d.inputMonitoring = [] { return true; };
    d.clipboard = [] { return ClipboardStatus::alwaysAllow; };
    d.running = [](const std::string& id) { return id != "com.googlecode.iterm2"; };
    d.automation = [](const std::string&, bool,
                      const PermissionSettingsController::Dependencies::AutomationAnswer& answer) {
        answer(AutomationStatus::allowed);
    };
    d.requestAccessibility = [] {};
    d.requestInputMonitoring = [] { return false; };
    d.requestClipboard = [](const PermissionSettingsController::Dependencies::ClipboardAnswer&) {};
    d.openPane = [](const std::string&) {};
    d.installation = [](const std::string& id) {
        if (id == "com.googlecode.iterm2") return Installation{installation::Missing{}};
        return Installation{installation::Available{"/Applications/" + id + ".app"}};
    };
    d.checkGhostty = [](const std::string&,
                        const PermissionSettingsController::Dependencies::CompatibilityAnswer& answer) {
        answer(GhosttyCompatibility::Status::supported);
    };
    auto model = PermissionSettingsController::create(d, [] { return 0.0; });
    model->refresh();
    return model;
}

// A login item whose registration waits for ever, in the given state.
std::shared_ptr<LaunchAtLoginController> loginModel(LoginState state) {
    LaunchAtLoginController::Dependencies d;
    d.status = [state] { return state; };
    d.registerItem = [](LaunchAtLoginController::Completion) {};
    d.unregisterItem = [](LaunchAtLoginController::Completion) {};
    d.openLoginItems = [] {};
    auto model = LaunchAtLoginController::create(d);
    model->refresh();
    return model;
}

UpdatePresentation updatesFor(const std::string& state) {
    if (state == "updates-not-configured") return Controller::defaultUpdatePresentation();
    return {true, true, "Check for Updates\u2026", "Checks once a day and installs after you quit."};
}

void drawSettings(GraphicsContext& g, const std::string& state, Size content) {
    const PinnedDesktop pinned(state == "contrast");

    // The overlay switch reads a preferences file of the scene's own, never the user's.
    const auto scratch = std::filesystem::temp_directory_path() / ("tarpelix-gallery-settings-" + std::to_string(getpid()));
    auto overlay = OverlayPreference::create(UserDefaults::create(scratch / "overlay.plist"));

    std::vector<Controller::LoadCompletion> loads;
    std::vector<Controller::ClearCompletion> clears;
    const bool busy = state == "paste-in-flight";
    auto login = loginModel(state == "login-approval" ? LoginState::requiresApproval : LoginState::notRegistered);
    if (state == "login-updating") login->setEnabled(true); // the registration stays under way
    auto controller = Controller::create(
        [&loads](Controller::LoadCompletion c) { loads.push_back(std::move(c)); },
        [&clears](Controller::ClearCompletion c) { clears.push_back(std::move(c)); },
        [&clears](Controller::ClearCompletion c) { clears.push_back(std::move(c)); },
        [](Controller::ReportCompletion) {}, [busy] { return busy; }, nullptr,
        state == "permissions-no-model" ? nullptr : permissionModel(), overlay, login,
        [state] { return updatesFor(state); }, [](bool) {}, [] {});
    controller->window().setContentSize(content);
    controller->showSection(sectionFor(state));
    for (auto& load : loads) load(snapshotFor(state));
    loads.clear();

    if (state == "preparing") controller->reviewReport();
    if (state == "confirmation" || state == "cleared" || state == "clear-failed") {
        controller->requestClearImages();
        if (state != "confirmation") {
            Window* sheet = controller->window().attachedSheet();
            if (sheet) AppKitControl::pressButton(*sheet, "Clear");
            if (!clears.empty()) {
                clears.back()(state == "cleared" ? nullptr : std::make_exception_ptr(StorageError::busy));
            }
            for (auto& load : loads) load(snapshotFor(state));
        }
    }
    drawWindow(g, controller->window());
    if (Window* sheet = controller->window().attachedSheet()) AppKitControl::pressButton(*sheet, "Cancel");
    controller->window().orderOut();
    controller.reset();
    std::filesystem::remove_all(scratch);
}

Scene settingsScene(const std::string& name, std::vector<std::string> sceneStates, Size content) {
    return {name,
            std::move(sceneStates),
            {content.width, content.height + Window::titleBarHeight},
            [content](GraphicsContext& g, const std::string& state) {
                drawSettings(g, withoutDarkSuffix(state), content);
            },
            // The sidebar's rows and header sit on the sidebar material.
            {"settings.sidebarBackground"},
            {DashboardView::pastesIdentifier, DashboardView::daysIdentifier, DashboardView::sinceIdentifier}};
}

} // namespace

std::vector<Scene> settingsWindowScenes() {
    return {settingsScene("settings-window", states, Controller::contentSize),
            settingsScene("settings-window-minimum", inLightAndDark(minimumStates), Controller::minimumContentSize)};
}

} // namespace tarpelix::gallery
