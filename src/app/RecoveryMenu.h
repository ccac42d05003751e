#pragma once

#include "platform/appkit/Actions.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/MenuItem.h"
#include "platform/appkit/StatusItem.h"

#include <memory>
#include <optional>
#include <string>

namespace tarpelix {

// The status item's menu and the application's main menu, built once from the actions their
// items send and then updated from plain values. Main thread only.
class RecoveryMenu final {
public:
    // The actions the items send to their target; an optional one that is missing leaves its
    // item without an action, disabled.
    struct Actions {
        std::string showLastPaste;
        std::string copyPath;
        std::string copyImage;
        std::string showHelp;
        std::string showAbout;
        std::string showSettings;
        std::string quit;
        std::optional<std::string> resumeSetup = {};
        std::optional<std::string> tryFirstPaste = {};
        std::optional<std::string> fixPermissions = {};
        std::optional<std::string> checkForUpdates = {};
    };

    // What the status menu shows; a line that is none is hidden.
    struct State {
        std::optional<std::string> status = {};
        std::optional<std::string> storageWarning = {};
        std::optional<std::string> copyStatus = {};
        bool canCopyPath = false;
        bool canCopyImage = false;
        bool showResumeSetup = false;
        bool showTryFirstPaste = false;
        bool showFixPermissions = false;
        std::string updateTitle = "Check for Updates";
        bool canCheckUpdates = true;
    };

    // The identifier of the main menu's update item.
    static constexpr const char* checkForUpdatesIdentifier = "tarpelix.checkForUpdates";

    // Builds the status menu; `target` (held weakly) receives every action.
    RecoveryMenu(const std::shared_ptr<platform::ActionTarget>& target, const Actions& actions);
    RecoveryMenu(const RecoveryMenu&) = delete;
    RecoveryMenu& operator=(const RecoveryMenu&) = delete;

    const std::shared_ptr<platform::Menu>& menu() const { return menu_; }
    platform::MenuItem& statusItem() const { return *statusItem_; }
    platform::MenuItem& storageWarningItem() const { return *storageWarningItem_; }
    platform::MenuItem& copyPathItem() const { return *copyPathItem_; }
    platform::MenuItem& copyImageItem() const { return *copyImageItem_; }
    platform::MenuItem& copyStatusItem() const { return *copyStatusItem_; }
    platform::MenuItem& resumeSetupItem() const { return *resumeSetupItem_; }
    platform::MenuItem& tryFirstPasteItem() const { return *tryFirstPasteItem_; }
    platform::MenuItem& fixPermissionsItem() const { return *fixPermissionsItem_; }
    platform::MenuItem& updateItem() const { return *updateItem_; }

    // Applies the state to the status menu.
    void update(const State& state);

    // The main menu: "Tarpelix", "File", "Edit" and "Help".
    static std::shared_ptr<platform::Menu> applicationMenu(const std::shared_ptr<platform::ActionTarget>& target,
                                                           const Actions& actions);
    // Retitles the main menu's update item and enables it when it can check and has an
    // action; a menu without that item is left alone.
    static void updateApplicationMenu(platform::Menu& menu, const std::string& title, bool canCheck);

    // The menu-bar button: the "MenuBarIcon" template image, or the title "TR" when that
    // image cannot be loaded; read as "Tarpelix".
    static void configureButton(platform::StatusBarButton& button);

private:
    std::shared_ptr<platform::Menu> menu_;
    std::shared_ptr<platform::MenuItem> statusItem_;
    std::shared_ptr<platform::MenuItem> storageWarningItem_;
    std::shared_ptr<platform::MenuItem> copyPathItem_;
    std::shared_ptr<platform::MenuItem> copyImageItem_;
    std::shared_ptr<platform::MenuItem> copyStatusItem_;
    std::shared_ptr<platform::MenuItem> resumeSetupItem_;
    std::shared_ptr<platform::MenuItem> tryFirstPasteItem_;
    std::shared_ptr<platform::MenuItem> fixPermissionsItem_;
    std::shared_ptr<platform::MenuItem> updateItem_;
};

} // namespace tarpelix
