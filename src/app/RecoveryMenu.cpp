#include "app/RecoveryMenu.h"

#include "platform/appkit/GraphicsImage.h"
#include "platform/foundation/MainThread.h"

namespace tarpelix {

using namespace platform;

namespace {

// The update title as a menu shows it: an ellipsis promises a dialog that these items do
// not open, so every "…" and then every "..." goes.
std::string withoutEllipses(std::string title) {
    for (const std::string ellipsis : {"…", "..."}) {
        for (auto at = title.find(ellipsis); at != std::string::npos; at = title.find(ellipsis, at)) {
            title.erase(at, ellipsis.size());
        }
    }
    return title;
}

// An item that sends `action` to `target`; without an action it sends nothing and stays
// disabled.
std::shared_ptr<MenuItem> actionItem(const std::string& title, const std::optional<std::string>& action,
                                     const std::shared_ptr<ActionTarget>& target, const std::string& key = {}) {
    auto item = MenuItem::create(title, action.value_or(""), key);
    if (action && !action->empty()) {
        item->setTarget(target);
    } else {
        item->setEnabled(false);
    }
    return item;
}

// A disabled item used as a line of text.
std::shared_ptr<MenuItem> textLine(bool hidden) {
    auto item = MenuItem::create("");
    item->setEnabled(false);
    item->setHidden(hidden);
    return item;
}

std::shared_ptr<MenuItem> topLevel(Menu& bar, const std::string& title, bool autoenables) {
    auto submenu = Menu::create(title);
    submenu->setAutoenablesItems(autoenables);
    auto item = MenuItem::create(title);
    item->setSubmenu(submenu);
    bar.addItem(item);
    return item;
}

// The menu-bar icon is drawn at 18 points; the PNG holds its pixels at 2×.
constexpr Size menuBarIconSize{18, 18};

} // namespace

RecoveryMenu::RecoveryMenu(const std::shared_ptr<ActionTarget>& target, const Actions& actions) {
    requireMainThread("RecoveryMenu");
    menu_ = Menu::create("Tarpelix");
    menu_->setAutoenablesItems(false);
    menu_->setShowsStateColumn(false);

    copyPathItem_ = actionItem("Copy Last Uploaded Path", actions.copyPath, target);
    copyPathItem_->setEnabled(false);
    copyImageItem_ = actionItem("Copy Last Image", actions.copyImage, target);
    copyImageItem_->setEnabled(false);
    copyStatusItem_ = textLine(true);
    statusItem_ = textLine(false);
    storageWarningItem_ = textLine(true);
    resumeSetupItem_ = actionItem("Resume Setup", actions.resumeSetup, target);
    tryFirstPasteItem_ = actionItem("Try First Paste", actions.tryFirstPaste, target);
    fixPermissionsItem_ = actionItem("Fix Permissions", actions.fixPermissions, target);
    for (const auto& setupItem : {resumeSetupItem_, tryFirstPasteItem_, fixPermissionsItem_}) {
        setupItem->setHidden(true);
    }
    updateItem_ = actionItem("Check for Updates", actions.checkForUpdates, target);

    menu_->addItem(copyPathItem_);
    menu_->addItem(copyImageItem_);
    menu_->addItem(actionItem("Last Paste Status", actions.showLastPaste, target));
    menu_->addItem(copyStatusItem_);
    menu_->addItem(MenuItem::separatorItem());
    menu_->addItem(statusItem_);
    menu_->addItem(storageWarningItem_);
    menu_->addItem(resumeSetupItem_);
    menu_->addItem(tryFirstPasteItem_);
    menu_->addItem(fixPermissionsItem_);
    menu_->addItem(actionItem("Settings", actions.showSettings, target, ","));
    menu_->addItem(actionItem("Help", actions.showHelp, target));
    menu_->addItem(actionItem("About Tarpelix", actions.showAbout, target));
    menu_->addItem(updateItem_);
    menu_->addItem(MenuItem::separatorItem());
    menu_->addItem(actionItem("Quit Tarpelix", actions.quit, target, "q"));
}

void RecoveryMenu::update(const State& state) {
    requireMainThread("RecoveryMenu::update");
    updateItem_->setTitle(withoutEllipses(state.updateTitle));
    updateItem_->setEnabled(state.canCheckUpdates && !updateItem_->action().empty());
    statusItem_->setTitle(state.status.value_or(""));
    statusItem_->setHidden(!state.status);
    storageWarningItem_->setTitle(state.storageWarning.value_or(""));
    storageWarningItem_->setHidden(!state.storageWarning);
    copyPathItem_->setEnabled(state.canCopyPath);
    copyImageItem_->setEnabled(state.canCopyImage);
    copyStatusItem_->setTitle(state.copyStatus.value_or(""));
    copyStatusItem_->setHidden(!state.copyStatus);
    resumeSetupItem_->setHidden(!state.showResumeSetup);
    tryFirstPasteItem_->setHidden(!state.showTryFirstPaste);
    fixPermissionsItem_->setHidden(!state.showFixPermissions);
}

std::shared_ptr<Menu> RecoveryMenu::applicationMenu(const std::shared_ptr<ActionTarget>& target,
                                                    const Actions& actions) {
    requireMainThread("RecoveryMenu::applicationMenu");
    auto bar = Menu::create();

    auto& application = *topLevel(*bar, "Tarpelix", false)->submenu();
    application.addItem(actionItem("About Tarpelix", actions.showAbout, target));
    auto update = actionItem("Check for Updates", actions.checkForUpdates, target);
    update->setIdentifier(checkForUpdatesIdentifier);
    application.addItem(update);
    application.addItem(MenuItem::separatorItem());
    application.addItem(actionItem("Settings", actions.showSettings, target, ","));
    application.addItem(MenuItem::separatorItem());
    application.addItem(actionItem("Quit Tarpelix", actions.quit, target, "q"));

    // The standard commands go to the first responder.
    topLevel(*bar, "File", true)->submenu()->addItem("Close", StandardAction::performClose, "w");
    auto& edit = *topLevel(*bar, "Edit", true)->submenu();
    edit.addItem("Copy", StandardAction::copy, "c");
    edit.addItem("Select All", StandardAction::selectAll, "a");

    topLevel(*bar, "Help", true)->submenu()->addItem(actionItem("Tarpelix Help", actions.showHelp, target));
    return bar;
}

void RecoveryMenu::updateApplicationMenu(Menu& menu, const std::string& title, bool canCheck) {
    requireMainThread("RecoveryMenu::updateApplicationMenu");
    const MenuItem* application = menu.itemWithTitle("Tarpelix");
    if (!application || !application->submenu()) return;
    MenuItem* update = application->submenu()->itemWithIdentifier(checkForUpdatesIdentifier);
    if (!update) return;
    update->setTitle(withoutEllipses(title));
    if (!canCheck) {
        update->setEnabled(false);
    } else if (!update->action().empty()) {
        update->setEnabled(true);
    }
}

void RecoveryMenu::configureButton(StatusBarButton& button) {
    requireMainThread("RecoveryMenu::configureButton");
    if (auto image = GraphicsImage::named("MenuBarIcon")) {
        image->setSize(menuBarIconSize);
        image->setTemplate(true);
        button.setImage(std::move(image));
        button.setTitle("");
    } else {
        button.setImage(std::nullopt);
        button.setTitle("TR");
    }
    button.setAccessibilityLabel("Tarpelix");
}

} // namespace tarpelix
