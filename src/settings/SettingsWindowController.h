#pragma once

#include "platform/appkit/TableView.h"
#include "platform/appkit/Window.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/UserDefaults.h"
#include "settings/LaunchAtLoginController.h"
#include "settings/PermissionSettingsController.h"
#include "settings/SettingsSection.h"
#include "settings/SettingsSnapshot.h"
#include "ui/CloseKeyEquivalent.h"
#include "ui/InterfaceIcon.h"
#include "updates/UpdatePresentation.h"
#include "windows/DiagnosticReportPreviewController.h"
#include "windows/OverlayPreference.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarpelix::platform {
class Button;
class Label;
class RunLoopTimer;
class Switch;
class View;
} // namespace tarpelix::platform

namespace tarpelix {

class DashboardView;
class HelpSettingsView;
class PermissionsSettingsView;

// The Settings window: Command-W (Command alone) closes it; every other key equivalent takes
// the window's standard handling.
class SettingsWindow final : public CloseKeyWindow {
public:
    using CloseKeyWindow::CloseKeyWindow;
};

// The Settings window: a sidebar of sections beside the selected section's page. It builds
// every page once, remembers the last section opened, loads a snapshot of local data each time
// it is shown and every 5 seconds while open (at once when a paste ends), and holds back the
// clears and the report while a paste, a load, a clear, a confirmation or a report is under
// way. Everything it needs of the rest of the application comes as closures and objects given
// at creation; completions may arrive on any thread and are taken on the main thread, and a
// snapshot whose load was superseded is dropped. One controller lives for the life of the
// process; closing only hides the window. Main thread only.
class SettingsWindowController final : public platform::WindowDelegate,
                                       public platform::TableViewDataSource,
                                       public platform::TableViewDelegate,
                                       public std::enable_shared_from_this<SettingsWindowController> {
public:
    using LoadCompletion = std::function<void(SettingsSnapshot)>;
    using Load = std::function<void(LoadCompletion)>;
    // Null on success; otherwise the storage's or the log's error.
    using ClearCompletion = std::function<void(std::exception_ptr)>;
    using Clear = std::function<void(ClearCompletion)>;
    using ReportCompletion = std::function<void(std::string)>;
    using MakeReport = std::function<void(ReportCompletion)>;
    using IsBusy = std::function<bool()>;
    using PresentUpdates = std::function<UpdatePresentation()>;
    using SetAutomaticUpdateChecks = std::function<void(bool)>;
    using CheckForUpdates = std::function<void()>;
    // Asks the user on the window; the completion gets true only when the user chose "Clear".
    using Confirm = std::function<void(platform::Window& window, const std::string& title, const std::string& detail,
                                       std::function<void(bool)> completion)>;
    using ChooseSaveURL = DiagnosticReportPreviewController::ChooseSaveURL;
    using WriteReport = DiagnosticReportPreviewController::WriteReport;

    // The user-defaults key of the last section opened.
    static inline const std::string lastSectionKey = "lastSettingsSection";
    static constexpr platform::Size contentSize{900, 640};
    static constexpr platform::Size minimumContentSize{760, 560};
    static constexpr double sidebarWidth = 200;
    // The busy timer's interval and the ticks between timed reloads.
    static constexpr double tickInterval = 0.25;
    static constexpr int ticksPerReload = 20;

    // The arguments in order; an empty closure or null object where a default is named takes
    // that default: `overlayPreference` a new preference over the standard user defaults,
    // `updatePresentation` defaultUpdatePresentation, `confirm` presentConfirmation,
    // `chooseSaveURL` the report window's save panel, `writeReport` an atomic replacement of
    // the file. `sectionDefaults`, `permissionsController` and `loginController` may be null.
    static std::shared_ptr<SettingsWindowController>
    create(Load load, Clear clearImages, Clear clearLogs, MakeReport makeReport, IsBusy isBusy,
           std::shared_ptr<platform::UserDefaults> sectionDefaults,
           std::shared_ptr<PermissionSettingsController> permissionsController,
           std::shared_ptr<OverlayPreference> overlayPreference,
           std::shared_ptr<LaunchAtLoginController> loginController, PresentUpdates updatePresentation,
           SetAutomaticUpdateChecks setAutomaticUpdateChecks, CheckForUpdates checkForUpdates, Confirm confirm = {},
           ChooseSaveURL chooseSaveURL = {}, WriteReport writeReport = {});
    ~SettingsWindowController() override;
    SettingsWindowController(const SettingsWindowController&) = delete;
    SettingsWindowController& operator=(const SettingsWindowController&) = delete;

    // Automatic checks on, checking allowed, "Check for Updates…", "Updates are not configured
    // for this build.".
    static UpdatePresentation defaultUpdatePresentation();
    // A warning alert as a sheet on the window: the title and detail over "Cancel" (the
    // default, Return) and "Clear"; true only when "Clear" ended it.
    static void presentConfirmation(platform::Window& window, const std::string& title,
                                    const std::string& detail, std::function<void(bool)> completion);
    // Shows the window on the last selected section, loads afresh and starts the busy timer.
    void showWindow();
    // The same on the given section.
    void showSection(SettingsSection section);
    // Loads a new snapshot; the newest load's snapshot is the one shown.
    void refresh();
    // Re-apply the General page's update and login rows and the Permissions page.
    void refreshUpdatesDisplay();
    void refreshLoginDisplay();
    void refreshPermissionsDisplay();

    // The actions of the controls.
    void changeOverlayPreference();
    void changeLoginPreference();
    void openLoginItems();
    void changeAutomaticUpdateChecks();
    void requestUpdateCheck();
    void requestClearImages();
    void requestClearLogs();
    void reviewReport();

    // Window delegate, table data source and delegate.
    void windowWillClose(platform::Window& window) override;
    int numberOfRows(platform::TableView& tableView) override;
    std::shared_ptr<platform::View> viewFor(platform::TableView& tableView, const platform::TableColumn* column,
                                            int row) override;
    void tableViewSelectionDidChange(platform::TableView& tableView) override;

    // What the window shows and what is under way, for the application's tests and the gallery.
    SettingsWindow& window() const { return *window_; }
    platform::TableView& sidebar() const { return *sidebar_; }
    platform::View& pageHost() const { return *pageHost_; }
    // The section's page; every section has one.
    platform::View& page(SettingsSection section) const { return *pages_.at(section); }
    SettingsSection selectedSection() const { return selectedSection_; }
    platform::Switch& overlaySwitch() const { return *overlaySwitch_; }
    platform::Switch& loginSwitch() const { return *loginSwitch_; }
    platform::Label& loginStatus() const { return *loginStatus_; }
    platform::Button& loginSettingsButton() const { return *loginSettingsButton_; }
    platform::Switch& updatesSwitch() const { return *updatesSwitch_; }
    platform::Label& updatesStatus() const { return *updatesStatus_; }
    platform::Button& checkUpdatesButton() const { return *checkUpdatesButton_; }
    platform::Button& clearImagesButton() const { return *clearImagesButton_; }
    platform::Button& clearLogsButton() const { return *clearLogsButton_; }
    platform::Button& reviewReportButton() const { return *reviewReportButton_; }
    platform::Label& imageSize() const { return *imageSize_; }
    platform::Label& imageCount() const { return *imageCount_; }
    platform::Label& recordCount() const { return *recordCount_; }
    platform::Label& databaseSize() const { return *databaseSize_; }
    platform::Label& storageStatus() const { return *storageStatus_; }
    platform::Label& diagnosticWarning() const { return *diagnosticWarning_; }
    platform::Label& storageActionStatus() const { return *storageActionStatus_; }
    platform::Label& diagnosticActionStatus() const { return *diagnosticActionStatus_; }
    PermissionsSettingsView* permissionsView() const { return permissionsView_.get(); }
    HelpSettingsView* helpView() const { return helpView_.get(); }
    DiagnosticReportPreviewController* reportPreview() const { return reportPreview_.get(); }
    bool isLoading() const { return loading_; }
    bool isClearing() const { return clearing_; }
    bool isConfirming() const { return confirming_; }
    bool hasBusyTimer() const { return busyTimer_ != nullptr; }

private:
    SettingsWindowController(Load load, Clear clearImages, Clear clearLogs, MakeReport makeReport, IsBusy isBusy,
                             std::shared_ptr<platform::UserDefaults> sectionDefaults,
                             std::shared_ptr<PermissionSettingsController> permissionsController,
                             std::shared_ptr<OverlayPreference> overlayPreference,
                             std::shared_ptr<LaunchAtLoginController> loginController,
                             PresentUpdates updatePresentation, SetAutomaticUpdateChecks setAutomaticUpdateChecks,
                             CheckForUpdates checkForUpdates, Confirm confirm, ChooseSaveURL chooseSaveURL,
                             WriteReport writeReport);

    // MARK: The window and navigation
    void buildContent();
    void selectSection(SettingsSection section);
    void show(SettingsSection section);
    void tick();
    void refreshBusyState();
    void applySnapshot(const SettingsSnapshot& snapshot);
    // A completion that takes its value on the main thread and hands it to `accept` while the
    // controller lives.
    template <typename Value, typename Accept>
    std::function<void(Value)> completion(Accept accept);

    // MARK: Pages (kept in a source file of their own)
    void setUpWidgets();
    void buildPages();
    std::shared_ptr<platform::View> makePage(SettingsSection section, const std::optional<std::string>& subtitle,
                                             const std::vector<std::shared_ptr<platform::View>>& cards);
    std::shared_ptr<platform::View> makePreferenceCard(const std::string& title, InterfaceIcon icon,
                                                       const std::shared_ptr<platform::Switch>& toggle,
                                                       const std::shared_ptr<platform::Label>& detail,
                                                       const std::shared_ptr<platform::Button>& action);
    std::shared_ptr<platform::View> makeDataRow(const std::string& title, InterfaceIcon icon,
                                                const std::vector<std::shared_ptr<platform::Label>>& details,
                                                const std::shared_ptr<platform::View>& trailing, bool alignTop);
    std::shared_ptr<platform::View> makeDataCard(const std::vector<std::shared_ptr<platform::View>>& views);
    std::shared_ptr<platform::View> makeStorageMetric(const std::shared_ptr<platform::Label>& value,
                                                      const std::shared_ptr<platform::Label>& detail);
    void setActionStatus(const std::string& text, bool images);
    void applyStorage(const TransferStorage::Status& status);
    void applyDiagnostics(const DiagnosticHealth& health);
    void requestClear(bool images);
    void clearAnswered(bool images, bool confirmed);
    void clearFinished(bool images, std::exception_ptr error);
    void reportReady(std::string text);

    std::shared_ptr<HelpSettingsView> helpView_;
    std::shared_ptr<platform::TableView> sidebar_;
    std::shared_ptr<platform::Switch> loginSwitch_;
    std::shared_ptr<platform::Label> loginStatus_;
    std::shared_ptr<platform::Button> loginSettingsButton_;
    std::shared_ptr<LaunchAtLoginController> loginController_;
    std::shared_ptr<platform::Switch> overlaySwitch_;
    std::shared_ptr<OverlayPreference> overlayPreference_;
    std::shared_ptr<platform::Switch> updatesSwitch_;
    std::shared_ptr<platform::Label> updatesStatus_;
    std::shared_ptr<platform::Button> checkUpdatesButton_;
    PresentUpdates updatePresentation_;
    SetAutomaticUpdateChecks setAutomaticUpdateChecks_;
    CheckForUpdates checkForUpdates_;
    SettingsSection selectedSection_ = SettingsSection::dashboard;
    std::shared_ptr<platform::UserDefaults> sectionDefaults_;
    std::shared_ptr<platform::View> pageHost_;
    std::map<SettingsSection, std::shared_ptr<platform::View>> pages_;
    std::shared_ptr<PermissionSettingsController> permissionsController_;
    std::shared_ptr<DashboardView> usageDashboardView_;
    std::shared_ptr<PermissionsSettingsView> permissionsView_;
    std::shared_ptr<platform::Button> clearImagesButton_;
    std::shared_ptr<platform::Button> clearLogsButton_;
    std::shared_ptr<platform::Button> reviewReportButton_;
    std::shared_ptr<platform::Label> imageSize_;
    std::shared_ptr<platform::Label> imageCount_;
    std::shared_ptr<platform::Label> recordCount_;
    std::shared_ptr<platform::Label> databaseSize_;
    std::shared_ptr<platform::Label> storageStatus_;
    std::shared_ptr<platform::Label> diagnosticWarning_;
    std::shared_ptr<platform::Label> storageActionStatus_;
    std::shared_ptr<platform::Label> diagnosticActionStatus_;
    std::shared_ptr<DiagnosticReportPreviewController> reportPreview_;
    Load load_;
    Clear clearImages_;
    Clear clearLogs_;
    MakeReport makeReport_;
    IsBusy isBusy_;
    Confirm confirm_;
    ChooseSaveURL chooseSaveURL_;
    WriteReport writeReport_;
    bool loading_ = false;
    bool clearing_ = false;
    bool confirming_ = false;
    bool preparingReport_ = false;
    std::int64_t loadRevision_ = 0;
    std::shared_ptr<platform::RunLoopTimer> busyTimer_;
    bool previouslyBusy_ = false;
    int refreshTicks_ = 0;
    std::shared_ptr<SettingsWindow> window_;
};

template <typename Value, typename Accept>
std::function<void(Value)> SettingsWindowController::completion(Accept accept) {
    return platform::completionOnMain<Value>(weak_from_this(), std::move(accept));
}

} // namespace tarpelix
