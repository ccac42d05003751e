// The first-run setup window, each page in the states a user meets, light and dark: the
// welcome; three terminals (one running, one chosen) and none at all, with Increase Contrast;
// the permissions all missing, Ghostty being checked or needing an update, all allowed; the
// first paste waiting, uploading, failed with its recovery buttons, verified, with the
// connection help open, and a completed setup reopened on it; the finish page before a choice,
// while launch at login is updating, waiting for approval and already enabled; and every page
// at the window's minimum size.

#include "gallery/GalleryScenes.h"

#include "onboarding/OnboardingLifecycleController.h"
#include "onboarding/OnboardingWindowController.h"
#include "platform/appkit/Button.h"
#include "platform/desktop/WorkspaceControl.h"
#include "platform/foundation/UserDefaults.h"
#include "settings/PermissionActionRow.h"
#include "settings/PermissionSettingsController.h"

#include <atomic>
#include <filesystem>
#include <map>
#include <unistd.h>

namespace tarpelix::gallery {

using namespace platform;

namespace {

using A = AutomationStatus;
using G = GhosttyCompatibility::Status;
using LoginState = LaunchAtLoginController::State;

const std::string& ghosttyID = GhosttyCompatibility::bundleID;
const std::string itermID = "com.googlecode.iterm2";
const std::string terminalID = "com.apple.Terminal";

// Everything a setup state depends on.
struct Setup {
    std::string progress; // the stored progress, JSON
    std::vector<std::string> installed = {ghosttyID, itermID, terminalID};
    std::vector<std::string> running = {itermID};
    bool accessibility = false;
    ClipboardStatus clipboard = ClipboardStatus::defaultAccess;
    std::map<std::string, A> automation; // absent: the probe does not answer
    std::optional<G> ghostty = G::supported; // none: the check does not answer
    LoginState login = LoginState::notRegistered;
};

std::string progress(int step, const std::string& selected, bool completed = false, bool verified = false,
                     const std::string& choice = "") {
    std::string json = R"({"presented":true,"step":)" + std::to_string(step) + R"(,"completed":)" +
                       (completed ? "true" : "false") + R"(,"firstPasteVerified":)" + (verified ? "true" : "false");
    if (!selected.empty()) json += R"(,"selectedTerminalID":")" + selected + "\"";
    if (!choice.empty()) json += R"(,"loginChoice":")" + choice + "\"";
    return json + "}";
}

std::string pathOf(const std::string& id) {
    if (id == ghosttyID) return "/Applications/Ghostty.app";
    if (id == itermID) return "/Applications/iTerm.app";
    return "/System/Applications/Utilities/Terminal.app";
}

Setup withProgress(const std::string& stored) {
    Setup s;
    s.progress = stored;
    return s;
}

Setup allowed(const std::string& stored) {
    Setup s;
    s.progress = stored;
    s.accessibility = true;
    s.clipboard = ClipboardStatus::alwaysAllow;
    s.automation = {{itermID, A::allowed}};
    return s;
}

Setup setupFor(const std::string& page, const std::string& state) {
    if (page == "welcome") return withProgress(progress(0, ""));
    if (page == "terminal") {
        Setup s = withProgress(progress(1, ""));
        if (state == "no-terminals") s.installed.clear();
        return s;
    }
    if (page == "permissions") {
        Setup s = withProgress(progress(2, itermID));
        s.automation = {{itermID, A::notDetermined}};
        if (state == "ghostty-checking" || state == "update-required") {
            s.progress = progress(2, ghosttyID);
            s.running = {ghosttyID};
            s.accessibility = true;
            s.clipboard = ClipboardStatus::ask;
            s.automation = {{ghosttyID, A::allowed}};
            s.ghostty = state == "update-required" ? std::optional(G::updateRequired) : std::nullopt;
        }
        if (state == "all-allowed") s = allowed(progress(2, itermID));
        return s;
    }
    if (page == "first-paste") return allowed(state == "completed" ? progress(4, itermID, true, false, "enable")
                                                                   : progress(3, itermID));
    // finish
    Setup s = allowed(progress(4, itermID, false, true, state == "light" || state == "dark" ? "" : "enable"));
    if (state == "approval-needed") s.login = LoginState::requiresApproval;
    if (state == "keep-enabled") s.login = LoginState::enabled;
    return s;
}

PermissionSettingsController::Dependencies permissionsOf(const Setup& setup) {
    PermissionSettingsController::Dependencies d;
    d.accessibility = [a = setup.accessibility] { return a; };
    d.inputMonitoring = [] { return true; };
    d.clipboard = [c = setup.clipboard] { return c; };
    d.running = [r = setup.running](const std::string& id) { return std::find(r.begin(), r.end(), id) != r.end(); };
    d.automation = [a = setup.automation](const std::string& id, bool,
                                          const PermissionSettingsController::Dependencies::AutomationAnswer& answer) {
        if (auto found = a.find(id); found != a.end()) answer(found->second);
    };
    d.requestAccessibility = [] {};
    d.requestInputMonitoring = [] { return true; };
    d.requestClipboard = [](const PermissionSettingsController::Dependencies::ClipboardAnswer&) {};
    d.openPane = [](const std::string&) {};
    d.installation = [i = setup.installed](const std::string& id) {
        if (std::find(i.begin(), i.end(), id) == i.end()) return Installation{installation::Missing{}};
        return Installation{installation::Available{pathOf(id)}};
    };
    d.checkGhostty = [g = setup.ghostty](const std::string&,
                                         const PermissionSettingsController::Dependencies::CompatibilityAnswer& answer) {
        if (g) answer(*g);
    };
    return d;
}

PasteFeedback feedback(PasteFeedback::Stage stage, std::optional<PasteFeedback::Outcome> outcome, bool confirmed) {
    PasteFeedback f;
    f.stage = stage;
    f.outcome = outcome;
    f.uploadConfirmed = confirmed;
    return f;
}

void drawSetup(GraphicsContext& g, const std::string& page, const std::string& state, Size contentSize) {
    const PinnedDesktop pinned(state == "contrast");
    const Setup setup = setupFor(page, state);
    for (const auto& id : setup.installed) {
        const std::string name = id == ghosttyID ? "Ghostty" : id == itermID ? "iTerm2" : "Terminal";
        WorkspaceControl::installApplication({id, name, pathOf(id)});
    }
    std::vector<pid_t> launched;
    for (const auto& id : setup.running) launched.push_back(WorkspaceControl::launchApplication({.bundleIdentifier = id, .activate = false}));

    static std::atomic<int> counter{0};
    const auto file = std::filesystem::temp_directory_path() /
                      ("tarpelix-gallery-setup-" + std::to_string(getpid()) + "-" + std::to_string(++counter) + ".plist");
    auto defaults = UserDefaults::create(file);
    defaults->set(OnboardingModel::preferenceKey, Bytes(setup.progress.begin(), setup.progress.end()));

    auto permissions = PermissionSettingsController::create(permissionsOf(setup), [] { return 0.0; });
    LaunchAtLoginController::Dependencies loginService{
        .status = [l = setup.login] { return l; },
        .registerItem = [](const LaunchAtLoginController::Completion&) {}, // stays busy
        .unregisterItem = [](const LaunchAtLoginController::Completion&) {},
        .openLoginItems = [] {},
    };
    auto login = LaunchAtLoginController::create(loginService);
    OnboardingLifecycleController::Actions actions;
    actions.scheduleRefresh = [](const std::function<void()>&) { return OnboardingLifecycleController::Canceller([] {}); };
    actions.openTerminal = [](const std::string&) {};
    auto controller = OnboardingLifecycleController::create(
        defaults, [] { return OnboardingTerminalDiscovery(OnboardingTerminalDiscovery::Dependencies::live()).discover(); },
        permissions, login, actions);
    controller->start();
    controller->showSetup();
    auto& window = *controller->windowController();
    window.window().setContentSize(contentSize);

    if (page == "terminal" && state != "no-terminals") {
        window.terminalButtons().at(ghosttyID)->performClick(); // chosen, while iTerm2 runs
    }
    if (state == "uploading") controller->receive(feedback(PasteFeedback::Stage::uploading, std::nullopt, false));
    if (state == "failed") {
        controller->receive(feedback(PasteFeedback::Stage::uploading, PasteFeedback::Outcome::failed, false));
    }
    if (state == "verified") {
        controller->receive(feedback(PasteFeedback::Stage::inserting, PasteFeedback::Outcome::success, true));
    }
    if (state == "help-expanded") window.helpDisclosureButton().performClick();
    if (state == "updating") window.loginEnableButton().performClick();
    window.refresh();
    drawWindow(g, window.window());

    controller->stop();
    for (pid_t pid : launched) WorkspaceControl::quitApplication(pid);
    for (const auto& id : setup.installed) WorkspaceControl::uninstallApplication(id);
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
}

Scene setupScene(const std::string& page, std::vector<std::string> states) {
    const Size content = OnboardingWindowController::contentSize;
    return {"setup-" + page,
            std::move(states),
            {content.width, content.height + Window::titleBarHeight},
            [page, content](GraphicsContext& g, const std::string& state) { drawSetup(g, page, state, content); },
            {"onboarding.nextStep"}};
}

Scene minimumScene() {
    const Size content = OnboardingWindowController::minimumContentSize;
    return {"setup-minimum",
            inLightAndDark({"welcome", "terminal", "permissions", "first-paste", "finish"}),
            {content.width, content.height + Window::titleBarHeight},
            [content](GraphicsContext& g, const std::string& state) {
                const auto page = withoutDarkSuffix(state);
                drawSetup(g, page, page == "first-paste" ? "failed" : "light", content);
            },
            {"onboarding.nextStep"}};
}

} // namespace

std::vector<Scene> onboardingScenes() {
    return {
        setupScene("welcome", {"light", "dark"}),
        setupScene("terminal", {"light", "dark", "contrast", "no-terminals"}),
        setupScene("permissions", {"light", "dark", "ghostty-checking", "update-required", "all-allowed"}),
        setupScene("first-paste", {"light", "dark", "uploading", "failed", "verified", "help-expanded", "completed"}),
        setupScene("finish", {"light", "dark", "updating", "approval-needed", "keep-enabled"}),
        minimumScene(),
    };
}

} // namespace tarpelix::gallery
