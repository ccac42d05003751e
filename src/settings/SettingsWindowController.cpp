#include "settings/SettingsWindowController.h"

#include "platform/appkit/Alert.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Box.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/GraphicsImage.h"
#include "platform/appkit/ImageView.h"
#include "platform/appkit/Label.h"
#include "platform/appkit/ScrollView.h"
#include "platform/appkit/StackView.h"
#include "platform/appkit/Switch.h"
#include "platform/appkit/ViewConstraint.h"
#include "platform/appkit/VisualEffectView.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/foundation/MainThread.h"
#include "settings/HelpSettingsView.h"
#include "settings/PermissionsSettingsView.h"
#include "ui/InterfaceStyle.h"
#include "windows/DashboardView.h"

#include <algorithm>

namespace tarpelix {

using namespace platform;

namespace {

constexpr double headerTop = 26;
constexpr double applicationIconSide = 32;
constexpr double sidebarInset = 8;
constexpr double sidebarBottom = 12;
constexpr double sidebarRowHeight = 42;
constexpr Size sidebarIconSize{32, 22};

std::shared_ptr<Button> pushButton(const std::string& title) {
    auto button = Button::withTitle(title);
    button->setBezelStyle(BezelStyle::rounded);
    return button;
}

std::shared_ptr<Label> wrappingLabel(const std::string& text) {
    auto label = Label::wrappingLabelWithString(text);
    label->setTranslatesAutoresizingMaskIntoConstraints(false);
    return label;
}

int rowOf(SettingsSection section) {
    const auto& all = allCases<SettingsSection>();
    return int(std::find(all.begin(), all.end(), section) - all.begin());
}

} // namespace

// MARK: Creation

std::shared_ptr<SettingsWindowController> SettingsWindowController::create(
    Load load, Clear clearImages, Clear clearLogs, MakeReport makeReport, IsBusy isBusy,
    std::shared_ptr<UserDefaults> sectionDefaults, std::shared_ptr<PermissionSettingsController> permissionsController,
    std::shared_ptr<OverlayPreference> overlayPreference, std::shared_ptr<LaunchAtLoginController> loginController,
    PresentUpdates updatePresentation, SetAutomaticUpdateChecks setAutomaticUpdateChecks,
    CheckForUpdates checkForUpdates, Confirm confirm, ChooseSaveURL chooseSaveURL, WriteReport writeReport) {
    requireMainThread("SettingsWindowController");
    if (!overlayPreference) overlayPreference = OverlayPreference::create();
    if (!updatePresentation) updatePresentation = defaultUpdatePresentation;
    if (!confirm) confirm = presentConfirmation;
    std::shared_ptr<SettingsWindowController> controller(new SettingsWindowController(
        std::move(load), std::move(clearImages), std::move(clearLogs), std::move(makeReport), std::move(isBusy),
        std::move(sectionDefaults), std::move(permissionsController), std::move(overlayPreference),
        std::move(loginController), std::move(updatePresentation), std::move(setAutomaticUpdateChecks),
        std::move(checkForUpdates), std::move(confirm), std::move(chooseSaveURL), std::move(writeReport)));
    controller->window_->setDelegate(controller);
    controller->sidebar_->setDataSource(controller);
    controller->sidebar_->setDelegate(controller);
    controller->buildContent();
    controller->window_->center();
    return controller;
}

SettingsWindowController::SettingsWindowController(
    Load load, Clear clearImages, Clear clearLogs, MakeReport makeReport, IsBusy isBusy,
    std::shared_ptr<UserDefaults> sectionDefaults, std::shared_ptr<PermissionSettingsController> permissionsController,
    std::shared_ptr<OverlayPreference> overlayPreference, std::shared_ptr<LaunchAtLoginController> loginController,
    PresentUpdates updatePresentation, SetAutomaticUpdateChecks setAutomaticUpdateChecks,
    CheckForUpdates checkForUpdates, Confirm confirm, ChooseSaveURL chooseSaveURL, WriteReport writeReport) {
    // The widgets, with their first texts.
    sidebar_ = TableView::create();
    loginSwitch_ = Switch::create();
    loginStatus_ = wrappingLabel("");
    loginSettingsButton_ = pushButton("Open Login Items\u2026");
    overlaySwitch_ = Switch::create();
    updatesSwitch_ = Switch::create();
    updatesStatus_ = wrappingLabel("");
    checkUpdatesButton_ = pushButton("Check for Updates\u2026");
    pageHost_ = View::create();
    clearImagesButton_ = pushButton("Clear\u2026");
    clearLogsButton_ = pushButton("Clear\u2026");
    reviewReportButton_ = pushButton("Review\u2026");
    for (auto* figure : {&imageSize_, &imageCount_, &recordCount_, &databaseSize_}) {
        *figure = Label::labelWithString("\u2014");
        (*figure)->setTranslatesAutoresizingMaskIntoConstraints(false);
    }
    storageStatus_ = wrappingLabel("Loading storage usage\u2026");
    diagnosticWarning_ = wrappingLabel("");
    storageActionStatus_ = wrappingLabel("");
    diagnosticActionStatus_ = wrappingLabel("");

    // The section remembered, when it still names one.
    if (sectionDefaults) {
        if (auto stored = sectionDefaults->string(lastSectionKey)) {
            if (auto section = settingsSectionFrom(*stored)) selectedSection_ = *section;
        }
    }

    loginController_ = std::move(loginController);
    overlayPreference_ = std::move(overlayPreference);
    updatePresentation_ = std::move(updatePresentation);
    setAutomaticUpdateChecks_ = std::move(setAutomaticUpdateChecks);
    checkForUpdates_ = std::move(checkForUpdates);
    sectionDefaults_ = std::move(sectionDefaults);
    permissionsController_ = std::move(permissionsController);
    load_ = std::move(load);
    clearImages_ = std::move(clearImages);
    clearLogs_ = std::move(clearLogs);
    makeReport_ = std::move(makeReport);
    isBusy_ = std::move(isBusy);
    confirm_ = std::move(confirm);
    chooseSaveURL_ = std::move(chooseSaveURL);
    writeReport_ = std::move(writeReport);

    window_ = std::make_shared<SettingsWindow>(
        Rect{{0, 0}, contentSize},
        WindowStyle::titled | WindowStyle::closable | WindowStyle::miniaturizable | WindowStyle::resizable);
    window_->setTitle("Tarpelix");
    window_->setContentMinSize(minimumContentSize);
    window_->setReleasedWhenClosed(false);
}

SettingsWindowController::~SettingsWindowController() {
    if (busyTimer_) busyTimer_->invalidate();
}

UpdatePresentation SettingsWindowController::defaultUpdatePresentation() {
    return {true, true, "Check for Updates\u2026", "Updates are not configured for this build."};
}

void SettingsWindowController::presentConfirmation(Window& window, const std::string& title, const std::string& detail,
                                                   std::function<void(bool)> completion) {
    // Another sheet on the window would keep this one from ever answering: decline at once.
    if (window.attachedSheet()) {
        completion(false);
        return;
    }
    auto alert = Alert::create();
    alert->setAlertStyle(AlertStyle::warning);
    alert->setMessageText(title);
    alert->setInformativeText(detail);
    alert->addButtonWithTitle("Cancel").setKeyEquivalent("\r");
    alert->addButtonWithTitle("Clear").setKeyEquivalent("");
    alert->beginSheetModal(window, [completion = std::move(completion)](ModalResponse response) {
        completion(response == ModalResponses::alertSecondButtonReturn);
    });
}

// MARK: Content and navigation

void SettingsWindowController::buildContent() {
    auto& content = *window_->contentView();
    ViewConstraints constraints;

    auto background = VisualEffectView::create();
    background->setMaterial(VisualEffectMaterial::sidebar);
    background->setBlendingMode(VisualEffectBlendingMode::behindWindow);
    background->setState(VisualEffectState::followsWindowActiveState);
    background->setTranslatesAutoresizingMaskIntoConstraints(false);
    background->setIdentifier("settings.sidebarBackground");
    content.addSubview(background);

    auto icon = ImageView::withImage(GraphicsImage::applicationIcon());
    icon->setImageScaling(ImageScaling::scaleProportionallyUpOrDown);
    icon->setAccessibilityElement(false);
    icon->setTranslatesAutoresizingMaskIntoConstraints(false);
    auto name = Label::labelWithString("Tarpelix");
    name->setFont(Font::boldSystemFont(20));
    auto header = InterfaceStyle::stack(LayoutAxis::horizontal, StackView::Alignment::center, 8, {icon, name});
    header->setIdentifier("settings.header");
    background->addSubview(header);

    auto scroll = ScrollView::create();
    scroll->setTranslatesAutoresizingMaskIntoConstraints(false);
    scroll->setDrawsBackground(false);
    scroll->setHasVerticalScroller(false);
    scroll->setIdentifier("settings.sidebarScroll");
    sidebar_->addTableColumn({"section"});
    sidebar_->setBackgroundColor(Color::clear());
    sidebar_->setStyle(TableViewStyle::sourceList);
    sidebar_->setRowHeight(sidebarRowHeight);
    sidebar_->setIntercellSpacing({0, 4});
    sidebar_->setAllowsEmptySelection(false);
    sidebar_->setAllowsMultipleSelection(false);
    sidebar_->setAccessibilityLabel("Settings sections");
    sidebar_->setIdentifier("settings.sidebar");
    scroll->setDocumentView(sidebar_);
    background->addSubview(scroll);

    auto separator = Box::separator();
    separator->setTranslatesAutoresizingMaskIntoConstraints(false);
    separator->setIdentifier("settings.separator");
    content.addSubview(separator);

    pageHost_->setTranslatesAutoresizingMaskIntoConstraints(false);
    pageHost_->setIdentifier("settings.pageHost");
    content.addSubview(pageHost_);

    const double inset = InterfaceStyle::Spacing::pageInset;
    constraints.insert(
        constraints.end(),
        {
            background->leadingAnchor().constraintEqualTo(content.leadingAnchor()),
            background->topAnchor().constraintEqualTo(content.topAnchor()),
            background->bottomAnchor().constraintEqualTo(content.bottomAnchor()),
            background->widthAnchor().constraintEqualToConstant(sidebarWidth),
            icon->widthAnchor().constraintEqualToConstant(applicationIconSide),
            icon->heightAnchor().constraintEqualToConstant(applicationIconSide),
            header->topAnchor().constraintEqualTo(background->topAnchor(), headerTop),
            header->leadingAnchor().constraintEqualTo(background->leadingAnchor(), inset),
            header->trailingAnchor().constraintLessThanOrEqualTo(background->trailingAnchor(), -sidebarInset),
            scroll->topAnchor().constraintEqualTo(header->bottomAnchor(), inset),
            scroll->leadingAnchor().constraintEqualTo(background->leadingAnchor(), sidebarInset),
            scroll->trailingAnchor().constraintEqualTo(background->trailingAnchor(), -sidebarInset),
            scroll->bottomAnchor().constraintEqualTo(background->bottomAnchor(), -sidebarBottom),
            separator->leadingAnchor().constraintEqualTo(background->trailingAnchor()),
            separator->widthAnchor().constraintEqualToConstant(1),
            separator->topAnchor().constraintEqualTo(content.topAnchor()),
            separator->bottomAnchor().constraintEqualTo(content.bottomAnchor()),
            pageHost_->leadingAnchor().constraintEqualTo(separator->trailingAnchor()),
            pageHost_->trailingAnchor().constraintEqualTo(content.trailingAnchor()),
            pageHost_->topAnchor().constraintEqualTo(content.topAnchor()),
            pageHost_->bottomAnchor().constraintEqualTo(content.bottomAnchor()),
        });
    ViewConstraint::activate(constraints);

    setUpWidgets();
    buildPages();

    sidebar_->reloadData();
    selectSection(selectedSection_);
    window_->setInitialFirstResponder(sidebar_.get());
    refreshBusyState();
}

int SettingsWindowController::numberOfRows(TableView&) { return int(allCases<SettingsSection>().size()); }

std::shared_ptr<View> SettingsWindowController::viewFor(TableView&, const TableColumn*, int row) {
    const auto& all = allCases<SettingsSection>();
    if (row < 0 || row >= int(all.size())) return nullptr;
    const SettingsSection section = all[std::size_t(row)];
    static const InterfaceIcon icons[] = {InterfaceIcon::dashboard,   InterfaceIcon::general,
                                          InterfaceIcon::permissions, InterfaceIcon::storage,
                                          InterfaceIcon::diagnostics, InterfaceIcon::help};

    auto cell = TableCellView::create();
    auto icon = ImageView::withImage(image(icons[row], InterfaceIconStyle::sidebar, std::nullopt));
    icon->setAccessibilityElement(false);
    icon->setTranslatesAutoresizingMaskIntoConstraints(false);
    auto title = Label::labelWithString(rawValue(section));
    title->setFont(Font::systemFont(14, FontWeight::medium));
    title->setTranslatesAutoresizingMaskIntoConstraints(false);
    title->setAccessibilityElement(false); // the row reads its cell's text
    cell->addSubview(icon);
    cell->addSubview(title);
    cell->setImageView(icon);
    cell->setTextField(title);
    cell->setIdentifier("settings.section." + rawValue(section));
    ViewConstraint::activate({
        icon->leadingAnchor().constraintEqualTo(cell->leadingAnchor()),
        icon->centerYAnchor().constraintEqualTo(cell->centerYAnchor()),
        icon->widthAnchor().constraintEqualToConstant(sidebarIconSize.width),
        icon->heightAnchor().constraintEqualToConstant(sidebarIconSize.height),
        title->leadingAnchor().constraintEqualTo(icon->trailingAnchor(), 8),
        title->trailingAnchor().constraintLessThanOrEqualTo(cell->trailingAnchor(), -8),
        title->centerYAnchor().constraintEqualTo(cell->centerYAnchor()),
    });
    return cell;
}

void SettingsWindowController::tableViewSelectionDidChange(TableView& tableView) {
    const int row = tableView.selectedRow();
    const auto& all = allCases<SettingsSection>();
    if (row < 0 || row >= int(all.size())) return;
    selectSection(all[std::size_t(row)]);
}

void SettingsWindowController::selectSection(SettingsSection section) {
    // Selecting another row tells the table's delegate, which comes back here with the row in
    // place and does the rest once.
    const int row = rowOf(section);
    if (sidebar_->selectedRow() != row) {
        sidebar_->selectRowIndexes({row}, false);
        return;
    }
    selectedSection_ = section;
    if (sectionDefaults_) sectionDefaults_->set(lastSectionKey, PropertyListValue(rawValue(section)));
    if (section == SettingsSection::general) {
        if (loginController_) loginController_->refresh();
        refreshLoginDisplay();
        refreshUpdatesDisplay();
    } else if (section == SettingsSection::permissions) {
        if (permissionsController_) permissionsController_->refresh();
        if (permissionsView_) permissionsView_->update();
    }

    auto found = pages_.find(section);
    if (found == pages_.end()) return;
    const std::shared_ptr<View>& page = found->second;
    if (page->superview() == pageHost_.get()) return;
    for (auto subviews = pageHost_->subviews(); auto& subview : subviews) subview->removeFromSuperview();
    page->setTranslatesAutoresizingMaskIntoConstraints(false);
    pageHost_->addSubview(page);
    ViewConstraint::activate({
        page->leadingAnchor().constraintEqualTo(pageHost_->leadingAnchor()),
        page->trailingAnchor().constraintEqualTo(pageHost_->trailingAnchor()),
        page->topAnchor().constraintEqualTo(pageHost_->topAnchor()),
        page->bottomAnchor().constraintEqualTo(pageHost_->bottomAnchor()),
    });
    // The key-view loop follows the views' geometry, so the new page joins it as laid out.
}

// MARK: Showing, loading and the busy timer

void SettingsWindowController::showWindow() { show(selectedSection_); }

void SettingsWindowController::showSection(SettingsSection section) { show(section); }

void SettingsWindowController::show(SettingsSection section) {
    requireMainThread("SettingsWindowController::show");
    overlaySwitch_->setState(overlayPreference_->isEnabled() ? ControlStateValue::on : ControlStateValue::off);
    refreshUpdatesDisplay();
    selectSection(section);
    window_->makeKeyAndOrderFront();
    window_->makeFirstResponder(sidebar_.get());
    Application::shared().activate();
    refresh();

    if (busyTimer_) busyTimer_->invalidate();
    std::weak_ptr<SettingsWindowController> weak = weak_from_this();
    busyTimer_ = RunLoop::main()->scheduleTimer(tickInterval, true, TimerMode::defaultMode, [weak](RunLoopTimer&) {
        if (auto self = weak.lock()) self->tick();
    });
}

void SettingsWindowController::refresh() {
    requireMainThread("SettingsWindowController::refresh");
    const std::int64_t revision = ++loadRevision_;
    loading_ = bool(load_); // without a loader nothing would ever end the load
    refreshBusyState();
    if (!load_) return;
    load_(completion<SettingsSnapshot>([revision](SettingsWindowController& self, SettingsSnapshot snapshot) {
        if (self.loadRevision_ != revision) return; // a newer load is under way
        self.loading_ = false;
        self.applySnapshot(snapshot);
        self.refreshBusyState();
    }));
}

void SettingsWindowController::applySnapshot(const SettingsSnapshot& snapshot) {
    if (usageDashboardView_) usageDashboardView_->update(snapshot.storage.pasteUsage);
    applyStorage(snapshot.storage);
    applyDiagnostics(snapshot.diagnostics);
}

void SettingsWindowController::tick() {
    const bool busy = isBusy_ ? isBusy_() : false;
    ++refreshTicks_;
    // A clear, a confirmation or a report under way holds the timed reloads back; the first
    // tick after it ends catches up.
    const bool underWay = loading_ || clearing_ || confirming_ || preparingReport_;
    if (!underWay && ((previouslyBusy_ && !busy) || refreshTicks_ >= ticksPerReload)) {
        refreshTicks_ = 0;
        refresh();
    }
    previouslyBusy_ = busy;
    refreshBusyState();
}

void SettingsWindowController::refreshBusyState() {
    const bool busy = isBusy_ ? isBusy_() : false;
    const bool canClear = !busy && !loading_ && !clearing_ && !confirming_ && !preparingReport_;
    clearImagesButton_->setEnabled(canClear);
    clearLogsButton_->setEnabled(canClear);
    reviewReportButton_->setEnabled(!preparingReport_ && !clearing_ && !confirming_);
    reviewReportButton_->setTitle(preparingReport_ ? "Preparing\u2026" : "Review\u2026");
}

void SettingsWindowController::windowWillClose(Window&) {
    if (busyTimer_) {
        busyTimer_->invalidate();
        busyTimer_.reset();
    }
}

} // namespace tarpelix
