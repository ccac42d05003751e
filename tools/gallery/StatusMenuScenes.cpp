// The status menu open below the menu-bar icon, in the states the user meets: ready with a
// storage warning and a copy message, a paste under way with an update waiting, a quit
// draining, and a missing permission with every setup item.

#include "gallery/GalleryScenes.h"

#include "app/RecoveryMenu.h"
#include "platform/appkit/Path.h"
#include "platform/appkit/StatusItem.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace tarpelix::gallery {

using namespace platform;

namespace {

constexpr double panelGap = 16;

// The items send to nobody here; only their look matters.
struct NoTarget : ActionTarget {};

RecoveryMenu::Actions statusMenuActions() {
    return {"openLastPaste:", "copyLastUploadedPath:", "copyLatestImage:", "openHelp:", "openAbout:",
            "showTarpelixSettings:", "quit:", "resumeSetup:", "tryFirstPaste:", "fixPermissions:",
            "checkForUpdates:"};
}

std::vector<RecoveryMenu::State> statusMenuStates() {
    RecoveryMenu::State ready;
    ready.storageWarning = "Local saving needs attention — see Settings";
    ready.copyStatus = "No confirmed uploaded path is available.";

    RecoveryMenu::State pasting;
    pasting.status = "Pasting image…";
    pasting.updateTitle = "Update Available…";

    RecoveryMenu::State quitting;
    quitting.status = "Preparing to quit…";
    quitting.canCheckUpdates = false;

    RecoveryMenu::State permission;
    permission.status = "Native paste — Accessibility access required";
    permission.showResumeSetup = true;
    permission.showTryFirstPaste = true;
    permission.showFixPermissions = true;
    return {ready, pasting, quitting, permission};
}

// The four menus, each updated to its state.
std::vector<std::unique_ptr<RecoveryMenu>> statusMenus() {
    static const auto target = std::make_shared<NoTarget>();
    std::vector<std::unique_ptr<RecoveryMenu>> menus;
    for (const auto& state : statusMenuStates()) {
        menus.push_back(std::make_unique<RecoveryMenu>(target, statusMenuActions()));
        menus.back()->update(state);
    }
    return menus;
}

// Side by side below the menu bar, each as wide as its own items.
Size statusMenuSceneSize() {
    Size size{panelGap, 0};
    for (const auto& menu : statusMenus()) {
        const Size open = menu->menu()->size();
        size.width += open.width + panelGap;
        size.height = std::max(size.height, open.height);
    }
    size.height += StatusBar::thickness + 3 + panelGap;
    return size;
}

void drawStatusMenus(GraphicsContext& g, const std::string&) {
    const Size scene = statusMenuSceneSize();
    const double barY = scene.height - StatusBar::thickness;
    g.fill(Path::rect({{0, 0}, scene}), Color::underPageBackgroundColor());
    g.fill(Path::rect({0, barY, scene.width, StatusBar::thickness}), Color::windowBackgroundColor());
    g.fill(Path::rect({0, barY, scene.width, 1}), Color::separatorColor());

    double left = panelGap;
    for (const auto& menu : statusMenus()) {
        auto item = StatusBar::system().statusItem(variableStatusItemLength);
        RecoveryMenu::configureButton(item->button());
        item->setMenu(menu->menu());

        // The icon, highlighted as its menu is open, above the menu's leading edge.
        auto& button = item->button();
        g.saveGState();
        g.translate(left + 12, barY);
        g.fill(Path::roundedRect(button.bounds().insetBy(0, 2), 4, 4), Color::quaternaryLabelColor());
        button.draw(g, button.bounds());
        g.restoreGState();

        const Menu& open = *menu->menu();
        g.saveGState();
        g.translate(left, barY - 3 - open.size().height);
        open.draw(g);
        g.restoreGState();
        left += open.size().width + panelGap;
    }
}

} // namespace

Scene statusMenuScene() { return {"status-menu", {"light", "dark"}, statusMenuSceneSize(), drawStatusMenus}; }

} // namespace tarpelix::gallery
