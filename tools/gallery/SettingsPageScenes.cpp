// The Permissions and Help pages of Settings, hosted as the Settings window hosts a page (a
// scroll view, the section title, the cards 24 points inside), at the page widths of the
// window's default and minimum sizes: first run, everything allowed, a mix of terminal states,
// missing and ambiguous terminals, troubleshooting open, a busy row; the help collapsed, with
// one topic open and with every topic open; each in light and one in dark.

#include "gallery/GalleryScenes.h"
#include "gallery/SettingsPageHost.h"

#include "settings/HelpSettingsView.h"
#include "settings/PermissionsSettingsView.h"

#include <map>

namespace tarpelix::gallery {

using namespace platform;

namespace {

// A permission system that answers at once from fixed facts; a clipboard request never ends.
struct FixedPermissions {
    bool accessibility = false;
    bool inputMonitoring = false;
    ClipboardStatus clipboard = ClipboardStatus::defaultAccess;
    std::map<std::string, Installation> installations;
    std::map<std::string, AutomationStatus> automation; // absent: not running
    GhosttyCompatibility::Status ghostty = GhosttyCompatibility::Status::supported;

    PermissionSettingsController::Dependencies dependencies() const {
        PermissionSettingsController::Dependencies d;
        d.accessibility = [a = accessibility] { return a; };
        d.inputMonitoring = [i = inputMonitoring] { return i; };
        d.clipboard = [c = clipboard] { return c; };
        d.running = [a = automation](const std::string& id) { return a.count(id) > 0; };
        d.automation =
            [a = automation](const std::string& id, bool,
                             const PermissionSettingsController::Dependencies::AutomationAnswer& answer) {
                answer(a.at(id));
            };
        d.requestAccessibility = [] {};
        d.requestInputMonitoring = [] { return false; };
        d.requestClipboard = [](const PermissionSettingsController::Dependencies::ClipboardAnswer&) {};
        d.openPane = [](const std::string&) {};
        d.installation = [i = installations](const std::string& id) {
            auto found = i.find(id);
            return found == i.end() ? Installation{installation::Missing{}} : found->second;
        };
        d.checkGhostty =
            [g = ghostty](const std::string&,
                          const PermissionSettingsController::Dependencies::CompatibilityAnswer& answer) {
                answer(g);
            };
        return d;
    }
};

const std::string itermID = "com.googlecode.iterm2";
const std::string terminalID = "com.apple.Terminal";

FixedPermissions permissionsFor(const std::string& state) {
    using A = AutomationStatus;
    const std::string& ghosttyID = GhosttyCompatibility::bundleID;
    FixedPermissions p;
    p.installations = {{ghosttyID, installation::Available{"/Applications/Ghostty.app"}},
                       {itermID, installation::Available{"/Applications/iTerm.app"}},
                       {terminalID, installation::Available{"/System/Applications/Utilities/Terminal.app"}}};
    if (state == "all-allowed" || state == "busy") {
        p.accessibility = p.inputMonitoring = true;
        p.clipboard = ClipboardStatus::alwaysAllow;
        p.automation = {{ghosttyID, A::allowed}, {itermID, A::allowed}, {terminalID, A::allowed}};
        if (state == "busy") p.clipboard = ClipboardStatus::defaultAccess;
    } else if (state == "mixed" || state == "dark") {
        p.accessibility = true;
        p.clipboard = ClipboardStatus::ask;
        p.ghostty = GhosttyCompatibility::Status::updateRequired;
        p.automation = {{ghosttyID, A::allowed}, {terminalID, A::denied}};
    } else if (state == "not-installed") {
        p.accessibility = true;
        p.clipboard = ClipboardStatus::alwaysAllow;
        p.installations.erase(ghosttyID);
        p.installations[itermID] = installation::Ambiguous{};
        p.automation = {{itermID, A::allowed}, {terminalID, A::allowed}};
    } else { // first run, troubleshooting
        p.automation = {{ghosttyID, A::notDetermined}};
    }
    return p;
}

void drawPermissions(GraphicsContext& g, const std::string& state, Size size) {
    auto model =
        PermissionSettingsController::create(permissionsFor(state).dependencies(), [] { return 0.0; });
    model->refresh();
    auto page = PermissionsSettingsView::create(model);
    if (state == "busy") model->performClipboardAction(); // the request stays in flight
    page->update();
    auto window = settingsPageWindow("Permissions", std::nullopt, page->cards(), size);
    if (state == "troubleshooting") page->troubleshootingButton().performClick();
    drawWindow(g, *window);
}

void drawHelp(GraphicsContext& g, const std::string& state, Size size) {
    auto page = HelpSettingsView::create([](OfflineHelp::Destination) {});
    auto window = settingsPageWindow("Help", std::nullopt, {page}, size);
    for (const auto& topic : page->topics()) {
        const bool open =
            state == "all-expanded" || ((state == "remote-expanded" || state == "dark") &&
                                        topic->section().title == "Check your remote connection");
        if (open) topic->toggle();
    }
    drawWindow(g, *window);
}

Scene pageScene(const std::string& name, std::vector<std::string> states, Size content,
                void (*draw)(GraphicsContext&, const std::string&, Size)) {
    return {name,
            std::move(states),
            {content.width, content.height + Window::titleBarHeight},
            [content, draw](GraphicsContext& g, const std::string& state) { draw(g, state, content); }};
}

const std::vector<std::string> permissionStates = {"first-run",       "all-allowed", "mixed", "not-installed",
                                                   "troubleshooting", "busy",        "dark"};
const std::vector<std::string> helpStates = {"collapsed", "remote-expanded", "dark"};

} // namespace

Scene settingsPermissionsWideScene() {
    return pageScene("settings-permissions-wide", permissionStates, {settingsPageWideWidth, 740},
                     drawPermissions);
}
Scene settingsPermissionsNarrowScene() {
    return pageScene("settings-permissions-narrow", permissionStates, {settingsPageNarrowWidth, 740},
                     drawPermissions);
}
Scene settingsHelpWideScene() {
    return pageScene("settings-help-wide", helpStates, {settingsPageWideWidth, 1180}, drawHelp);
}
Scene settingsHelpNarrowScene() {
    return pageScene("settings-help-narrow", helpStates, {settingsPageNarrowWidth, 1200}, drawHelp);
}
Scene settingsHelpExpandedWideScene() {
    return pageScene("settings-help-expanded-wide", {"all-expanded"}, {settingsPageWideWidth, 3700},
                     drawHelp);
}
Scene settingsHelpExpandedNarrowScene() {
    return pageScene("settings-help-expanded-narrow", {"all-expanded"}, {settingsPageNarrowWidth, 4150},
                     drawHelp);
}

} // namespace tarpelix::gallery
