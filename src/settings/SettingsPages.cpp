// The pages of the Settings window, their building blocks and the actions of their controls:
// General (overlay, launch at login, updates), Storage (usage figures, clearing local data),
// Diagnostics (log warnings, clearing the log, the report), and how the Dashboard,
// Permissions and Help pages are hosted.

#include "settings/SettingsWindowController.h"

#include "platform/appkit/Box.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/ClipView.h"
#include "platform/appkit/ImageView.h"
#include "platform/appkit/Label.h"
#include "platform/appkit/ScrollView.h"
#include "platform/appkit/StackView.h"
#include "platform/appkit/Switch.h"
#include "platform/appkit/ViewConstraint.h"
#include "platform/desktop/Workspace.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/foundation/Formatters.h"
#include "settings/HelpSettingsView.h"
#include "settings/PermissionsSettingsView.h"
#include "ui/InterfaceCardView.h"
#include "ui/InterfaceStyle.h"
#include "ui/PageDocumentView.h"
#include "windows/DashboardView.h"

#include <stdexcept>

namespace tarpelix {

using namespace platform;

namespace {

constexpr double iconSide = 24;
constexpr double titleSize = 13;

const std::string clearedText = "Cleared.";
const std::string clearFailedText = "Some data couldn\u2019t be cleared. Try again.";
const std::string waitText = "Wait for the current paste to finish, then try again.";
const std::string savedFailureText = "Some data couldn\u2019t be saved. The current result is kept until you quit.";

std::shared_ptr<Label> titleLabel(const std::string& title) {
    auto label = Label::labelWithString(title);
    label->setFont(Font::systemFont(titleSize, FontWeight::medium));
    label->setTranslatesAutoresizingMaskIntoConstraints(false);
    return label;
}

std::shared_ptr<ImageView> cardIcon(InterfaceIcon icon) {
    auto view = ImageView::withImage(image(icon, InterfaceIconStyle::card, std::nullopt));
    view->setContentTintColor(Color::controlAccentColor());
    view->setAccessibilityElement(false);
    view->setTranslatesAutoresizingMaskIntoConstraints(false);
    return view;
}

std::shared_ptr<Label> detailLabel(const std::string& text) {
    auto label = Label::wrappingLabelWithString(text);
    label->setFont(InterfaceStyle::Font::caption());
    label->setTextColor(Color::secondaryLabelColor());
    label->setContentCompressionResistancePriority(LayoutPriority::defaultLow, LayoutAxis::horizontal);
    label->setTranslatesAutoresizingMaskIntoConstraints(false);
    return label;
}

// Neither compressed nor stretched across. A stack holds to its content by its hugging alone,
// so it hugs more strongly than the column beside it but less than its labels resist.
void fixedWidth(View& view) {
    if (dynamic_cast<StackView*>(&view)) {
        view.setContentHuggingPriority(LayoutPriority::windowSizeStayPut, LayoutAxis::horizontal);
        return;
    }
    view.setContentHuggingPriority(LayoutPriority::required, LayoutAxis::horizontal);
    view.setContentCompressionResistancePriority(LayoutPriority::required, LayoutAxis::horizontal);
}

// The row keeps to the tallest of its parts.
void hugVertically(ViewConstraints& constraints, View& row) {
    auto hug = row.heightAnchor().constraintEqualToConstant(0);
    hug->setPriority(1);
    constraints.push_back(hug);
}

void within(ViewConstraints& constraints, View& part, View& row) {
    constraints.push_back(part.topAnchor().constraintGreaterThanOrEqualTo(row.topAnchor()));
    constraints.push_back(part.bottomAnchor().constraintLessThanOrEqualTo(row.bottomAnchor()));
}

// A card's row: the icon level with the title (the column's first line), the column beside it
// and the trailing view at the end, each kept inside the row, which keeps to the tallest.
// What places them goes into `constraints`.
std::shared_ptr<View> iconRow(ViewConstraints& constraints, InterfaceIcon icon, View& titleView,
                              const std::shared_ptr<View>& column, const std::shared_ptr<View>& trailing) {
    auto iconView = cardIcon(icon);
    auto row = View::create();
    row->setTranslatesAutoresizingMaskIntoConstraints(false);
    row->addSubview(iconView);
    row->addSubview(column);
    row->addSubview(trailing);
    constraints.insert(
        constraints.end(),
        {
            iconView->widthAnchor().constraintEqualToConstant(iconSide),
            iconView->heightAnchor().constraintEqualToConstant(iconSide),
            iconView->leadingAnchor().constraintEqualTo(row->leadingAnchor()),
            iconView->centerYAnchor().constraintEqualTo(titleView.centerYAnchor()),
            column->leadingAnchor().constraintEqualTo(iconView->trailingAnchor(), InterfaceStyle::Spacing::content),
            column->trailingAnchor().constraintEqualTo(trailing->leadingAnchor(), -InterfaceStyle::Spacing::group),
            trailing->trailingAnchor().constraintEqualTo(row->trailingAnchor()),
        });
    within(constraints, *column, *row);
    within(constraints, *trailing, *row);
    within(constraints, *iconView, *row);
    hugVertically(constraints, *row);
    return row;
}

std::string counted(std::int64_t count, const std::string& one, const std::string& many, const std::string& locale) {
    return Formatters::groupedInteger(count, locale) + " " + (count == 1 ? one : many);
}

std::string bytesText(std::int64_t bytes, const std::string& locale) {
    return bytes == 0 ? "0 bytes" : Formatters::byteCount(bytes, locale);
}

std::string joinedLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += (text.empty() ? "" : "\n") + line;
    return text;
}

} // namespace

// MARK: Widgets and pages

void SettingsWindowController::setUpWidgets() {
    std::weak_ptr<SettingsWindowController> weak = weak_from_this();
    const auto action = [weak](void (SettingsWindowController::*member)()) {
        return [weak, member](Control&) {
            if (auto self = weak.lock()) ((*self).*member)();
        };
    };

    clearImagesButton_->setAction("requestClearImages", action(&SettingsWindowController::requestClearImages));
    clearLogsButton_->setAction("requestClearLogs", action(&SettingsWindowController::requestClearLogs));
    reviewReportButton_->setAction("reviewReport", action(&SettingsWindowController::reviewReport));
    clearImagesButton_->setAccessibilityLabel("Clear local images and transfer records");
    clearLogsButton_->setAccessibilityLabel("Clear diagnostic logs");
    reviewReportButton_->setAccessibilityLabel("Review diagnostic report");

    for (const auto& label : {storageStatus_, diagnosticWarning_, storageActionStatus_, diagnosticActionStatus_}) {
        label->setSelectable(true);
        label->setFont(InterfaceStyle::Font::caption());
        label->setTextColor(Color::secondaryLabelColor());
        label->setContentCompressionResistancePriority(LayoutPriority::defaultLow, LayoutAxis::horizontal);
        label->setContentCompressionResistancePriority(LayoutPriority::required, LayoutAxis::vertical);
    }
    for (const auto& label : {storageStatus_, diagnosticWarning_}) {
        label->setFont(Font::systemFont(12, FontWeight::medium));
        label->setTextColor(Color::labelColor());
    }
    diagnosticWarning_->setHidden(true);
    storageActionStatus_->setHidden(true);
    diagnosticActionStatus_->setHidden(true);

    loginSwitch_->setAction("changeLoginPreference", action(&SettingsWindowController::changeLoginPreference));
    loginSettingsButton_->setAction("openLoginItems", action(&SettingsWindowController::openLoginItems));
    refreshLoginDisplay();
    overlaySwitch_->setAction("changeOverlayPreference", action(&SettingsWindowController::changeOverlayPreference));
    overlaySwitch_->setState(overlayPreference_->isEnabled() ? ControlStateValue::on : ControlStateValue::off);
    updatesSwitch_->setAction("changeAutomaticUpdateChecks",
                              action(&SettingsWindowController::changeAutomaticUpdateChecks));
    checkUpdatesButton_->setAction("requestUpdateCheck", action(&SettingsWindowController::requestUpdateCheck));
    refreshUpdatesDisplay();
}

void SettingsWindowController::buildPages() {
    auto overlayDetail = Label::wrappingLabelWithString("Show paste progress and results.");
    pages_[SettingsSection::general] = makePage(
        SettingsSection::general, std::nullopt,
        {makePreferenceCard("Show Paste Overlay", InterfaceIcon::pasteFeedback, overlaySwitch_, overlayDetail, nullptr),
         makePreferenceCard("Launch at Login", InterfaceIcon::startup, loginSwitch_, loginStatus_, loginSettingsButton_),
         makePreferenceCard("Check for updates daily", InterfaceIcon::updates, updatesSwitch_, updatesStatus_,
                            checkUpdatesButton_)});

    if (permissionsController_) {
        permissionsView_ = PermissionsSettingsView::create(permissionsController_);
        pages_[SettingsSection::permissions] =
            makePage(SettingsSection::permissions, std::nullopt, permissionsView_->cards());
    } else {
        pages_[SettingsSection::permissions] = makePage(SettingsSection::permissions, std::nullopt, {});
    }

    usageDashboardView_ = DashboardView::create();
    pages_[SettingsSection::dashboard] = makePage(SettingsSection::dashboard, "", {usageDashboardView_});

    auto imagesDetail = detailLabel("Up to 1 GB. Oldest images removed first.");
    auto recordsDetail = detailLabel("Kept until you clear local data.");
    auto clearDetail = detailLabel("Remove images, history, and dashboard stats.");
    auto separator = Box::separator();
    separator->setTranslatesAutoresizingMaskIntoConstraints(false);
    ViewConstraint::activate({separator->heightAnchor().constraintEqualToConstant(1)});
    pages_[SettingsSection::storage] = makePage(
        SettingsSection::storage, std::nullopt,
        {makeDataCard({makeDataRow("Images", InterfaceIcon::image, {imagesDetail},
                                   makeStorageMetric(imageSize_, imageCount_), true),
                       separator,
                       makeDataRow("Transfer records", InterfaceIcon::retention, {recordsDetail},
                                   makeStorageMetric(recordCount_, databaseSize_), true),
                       storageStatus_}),
         makeDataCard({makeDataRow("Clear local data", InterfaceIcon::storage, {clearDetail, storageActionStatus_},
                                   clearImagesButton_, false)})});

    fixedWidth(*clearLogsButton_);
    fixedWidth(*reviewReportButton_);
    auto reportButtons = InterfaceStyle::stack(LayoutAxis::horizontal, StackView::Alignment::center,
                                               InterfaceStyle::Spacing::related, {clearLogsButton_, reviewReportButton_});
    pages_[SettingsSection::diagnostics] = makePage(
        SettingsSection::diagnostics, std::nullopt,
        {makeDataCard({makeDataRow("Diagnostic report", InterfaceIcon::diagnosticReport,
                                   {detailLabel("Review logs for debugging."), diagnosticWarning_,
                                    diagnosticActionStatus_},
                                   reportButtons, false)})});

    std::weak_ptr<SettingsWindowController> weak = weak_from_this();
    helpView_ = HelpSettingsView::create([weak](OfflineHelp::Destination destination) {
        auto self = weak.lock();
        if (!self) return;
        switch (destination) {
        case OfflineHelp::Destination::permissions: self->selectSection(SettingsSection::permissions); break;
        case OfflineHelp::Destination::storage: self->selectSection(SettingsSection::storage); break;
        case OfflineHelp::Destination::diagnostics: self->selectSection(SettingsSection::diagnostics); break;
        case OfflineHelp::Destination::general: self->selectSection(SettingsSection::general); break;
        }
        self->window_->makeFirstResponder(self->sidebar_.get());
    });
    pages_[SettingsSection::help] = makePage(SettingsSection::help, std::nullopt, {helpView_});
}

// MARK: Building blocks

std::shared_ptr<View> SettingsWindowController::makePage(SettingsSection section,
                                                         const std::optional<std::string>& subtitle,
                                                         const std::vector<std::shared_ptr<View>>& cards) {
    auto scroll = ScrollView::create({0, 0, contentSize.width - sidebarWidth - 1, contentSize.height});
    scroll->setDrawsBackground(false);
    scroll->setHasVerticalScroller(true);
    scroll->setAutohidesScrollers(true);
    scroll->setIdentifier("settings.page." + rawValue(section));
    auto document = std::make_shared<CardPageDocumentView>();
    document->setFrame({0, 0, scroll->frame().width(), scroll->frame().height()});
    scroll->setDocumentView(document);
    document->fill(rawValue(section), subtitle, cards);
    return scroll;
}

std::shared_ptr<View> SettingsWindowController::makePreferenceCard(const std::string& title, InterfaceIcon icon,
                                                                   const std::shared_ptr<Switch>& toggle,
                                                                   const std::shared_ptr<Label>& detail,
                                                                   const std::shared_ptr<Button>& action) {
    auto titleView = titleLabel(title);
    detail->setFont(InterfaceStyle::Font::caption());
    detail->setTextColor(Color::secondaryLabelColor());
    detail->setSelectable(true);
    detail->setContentCompressionResistancePriority(LayoutPriority::required, LayoutAxis::vertical);
    detail->setTranslatesAutoresizingMaskIntoConstraints(false);
    auto column = InterfaceStyle::stack(LayoutAxis::vertical, StackView::Alignment::leading,
                                        InterfaceStyle::Spacing::tight, {titleView, detail});
    toggle->setTranslatesAutoresizingMaskIntoConstraints(false);
    toggle->setAccessibilityLabel(title);
    toggle->setAccessibilityHelp(detail->stringValue());
    fixedWidth(*toggle);

    ViewConstraints constraints;
    auto row = iconRow(constraints, icon, *titleView, column, toggle);
    constraints.push_back(detail->widthAnchor().constraintEqualTo(column->widthAnchor()));
    constraints.push_back(toggle->centerYAnchor().constraintEqualTo(row->centerYAnchor()));
    constraints.push_back(column->centerYAnchor().constraintEqualTo(row->centerYAnchor()));

    std::vector<std::shared_ptr<View>> parts = {row};
    if (action) {
        fixedWidth(*action);
        parts.push_back(action);
    }
    auto stack = InterfaceStyle::stack(LayoutAxis::vertical, StackView::Alignment::trailing,
                                       InterfaceStyle::Spacing::content, parts);
    constraints.push_back(row->widthAnchor().constraintEqualTo(stack->widthAnchor()));
    ViewConstraint::activate(constraints);
    auto card = InterfaceStyle::cardAround(stack);
    card->setTranslatesAutoresizingMaskIntoConstraints(false);
    return card;
}

std::shared_ptr<View> SettingsWindowController::makeDataRow(const std::string& title, InterfaceIcon icon,
                                                            const std::vector<std::shared_ptr<Label>>& details,
                                                            const std::shared_ptr<View>& trailing, bool alignTop) {
    auto titleView = titleLabel(title);
    std::vector<std::shared_ptr<View>> lines = {titleView};
    lines.insert(lines.end(), details.begin(), details.end());
    auto column =
        InterfaceStyle::stack(LayoutAxis::vertical, StackView::Alignment::leading, InterfaceStyle::Spacing::tight, lines);
    trailing->setTranslatesAutoresizingMaskIntoConstraints(false);
    fixedWidth(*trailing);

    ViewConstraints constraints;
    auto row = iconRow(constraints, icon, *titleView, column, trailing);
    constraints.push_back(alignTop ? trailing->topAnchor().constraintEqualTo(titleView->topAnchor())
                                   : trailing->centerYAnchor().constraintEqualTo(titleView->centerYAnchor()));
    for (const auto& detail : details) constraints.push_back(detail->widthAnchor().constraintEqualTo(column->widthAnchor()));
    // The column starts at the row's top unless the trailing view reaches higher.
    auto flush = column->topAnchor().constraintEqualTo(row->topAnchor());
    flush->setPriority(LayoutPriority::defaultHigh);
    constraints.push_back(flush);
    ViewConstraint::activate(constraints);
    return row;
}

std::shared_ptr<View> SettingsWindowController::makeDataCard(const std::vector<std::shared_ptr<View>>& views) {
    auto stack = InterfaceStyle::stack(LayoutAxis::vertical, StackView::Alignment::trailing,
                                       InterfaceStyle::Spacing::group, views);
    ViewConstraints constraints;
    for (const auto& view : views) {
        // A label lines up with the rows' text, after their icons.
        const double indent = std::dynamic_pointer_cast<Label>(view) ? InterfaceStyle::Spacing::content + iconSide : 0;
        constraints.push_back(view->widthAnchor().constraintEqualTo(stack->widthAnchor(), -indent));
    }
    ViewConstraint::activate(constraints);
    auto card = InterfaceStyle::cardAround(stack);
    card->setTranslatesAutoresizingMaskIntoConstraints(false);
    return card;
}

std::shared_ptr<View> SettingsWindowController::makeStorageMetric(const std::shared_ptr<Label>& value,
                                                                  const std::shared_ptr<Label>& detail) {
    value->setFont(Font::monospacedDigitSystemFont(titleSize, FontWeight::medium));
    value->setAlignment(TextAlignment::right);
    detail->setFont(InterfaceStyle::Font::caption());
    detail->setTextColor(Color::secondaryLabelColor());
    detail->setAlignment(TextAlignment::right);
    return InterfaceStyle::stack(LayoutAxis::vertical, StackView::Alignment::trailing, InterfaceStyle::Spacing::tight,
                                 {value, detail});
}

void SettingsWindowController::setActionStatus(const std::string& text, bool images) {
    Label& label = images ? *storageActionStatus_ : *diagnosticActionStatus_;
    label.setStringValue(text);
    label.setHidden(text.empty());
}

// MARK: General page

void SettingsWindowController::refreshLoginDisplay() {
    using State = LaunchAtLoginController::State;
    const State state = loginController_ ? loginController_->state() : State::notRegistered;
    const bool busy = loginController_ && loginController_->isBusy();
    const std::optional<std::string> error = loginController_ ? loginController_->errorMessage() : std::nullopt;

    loginSwitch_->setState(state == State::enabled || state == State::requiresApproval ? ControlStateValue::on
                                                                                         : ControlStateValue::off);
    loginSwitch_->setEnabled(loginController_ && !busy);
    loginSettingsButton_->setEnabled(!loginController_ || !busy);

    std::string text;
    if (busy) {
        text = "Updating\u2026";
    } else if (error) {
        text = *error;
    } else {
        switch (state) {
        case State::notRegistered:
        case State::enabled: text = "Open Tarpelix when you sign in."; break;
        case State::requiresApproval: text = "Approval required in Login Items."; break;
        case State::notFound: text = "Turn on Launch at Login to set it up."; break;
        case State::unknown: text = "Status unavailable. Check Login Items."; break;
        }
    }
    loginStatus_->setStringValue(text);
    loginSwitch_->setAccessibilityHelp(text);
    const bool needsLoginItems =
        error || state == State::requiresApproval || state == State::notFound || state == State::unknown;
    loginSettingsButton_->setHidden(!loginController_ || !needsLoginItems);
}

void SettingsWindowController::refreshUpdatesDisplay() {
    const UpdatePresentation presentation = updatePresentation_();
    updatesSwitch_->setState(presentation.automaticallyChecks ? ControlStateValue::on : ControlStateValue::off);
    updatesStatus_->setStringValue(presentation.detail);
    updatesSwitch_->setAccessibilityHelp(presentation.detail);
    checkUpdatesButton_->setTitle(presentation.title);
    checkUpdatesButton_->setEnabled(presentation.canCheck);
}

void SettingsWindowController::refreshPermissionsDisplay() {
    if (permissionsView_) permissionsView_->update();
}

void SettingsWindowController::changeOverlayPreference() {
    overlayPreference_->setEnabled(overlaySwitch_->state() == ControlStateValue::on);
}

void SettingsWindowController::changeLoginPreference() {
    if (loginController_) loginController_->setEnabled(loginSwitch_->state() == ControlStateValue::on);
    refreshLoginDisplay();
}

void SettingsWindowController::openLoginItems() {
    if (loginController_) loginController_->openLoginItems();
}

void SettingsWindowController::changeAutomaticUpdateChecks() {
    if (setAutomaticUpdateChecks_) setAutomaticUpdateChecks_(updatesSwitch_->state() == ControlStateValue::on);
    refreshUpdatesDisplay();
}

void SettingsWindowController::requestUpdateCheck() {
    if (!updatePresentation_().canCheck) return;
    if (checkForUpdates_) checkForUpdates_();
    refreshUpdatesDisplay();
}

// MARK: Storage and Diagnostics figures

void SettingsWindowController::applyStorage(const TransferStorage::Status& status) {
    const std::string locale = Workspace::localeIdentifier();
    std::vector<std::string> messages;
    if (const auto& usage = status.usage) {
        imageSize_->setStringValue(bytesText(usage->imageBytes, locale));
        imageCount_->setStringValue(counted(usage->imageCount, "image", "images", locale));
        recordCount_->setStringValue(counted(usage->recordCount, "record", "records", locale));
        databaseSize_->setStringValue(bytesText(usage->databaseBytes, locale) + " database");
    } else {
        for (const auto& figure : {imageSize_, imageCount_, recordCount_, databaseSize_}) figure->setStringValue("\u2014");
        messages.push_back("Storage usage unavailable.");
    }
    if (status.memoryOnly || status.warning || (status.usage && status.usage->lastFailure))
        messages.push_back(savedFailureText);
    if (status.clearPending) messages.push_back("Clearing after the current paste finishes\u2026");
    storageStatus_->setStringValue(joinedLines(messages));
    storageStatus_->setHidden(messages.empty());
}

void SettingsWindowController::applyDiagnostics(const DiagnosticHealth& health) {
    std::string text;
    if (health.lastFailure) {
        switch (health.lastFailure->code) {
        case DiagnosticError::Code::unavailable:
        case DiagnosticError::Code::writeFailed:
            text = "Logs couldn\u2019t be saved. Recent activity may be lost when you quit.";
            break;
        case DiagnosticError::Code::invalidEvent:
        case DiagnosticError::Code::corruptLog:
            text = "Some events couldn\u2019t be read and won\u2019t appear in reports.";
            break;
        case DiagnosticError::Code::deleteFailed: text = "Some logs couldn\u2019t be removed."; break;
        }
    }
    diagnosticWarning_->setStringValue(text);
    diagnosticWarning_->setHidden(!health.lastFailure);
}

// MARK: Clearing and the report

void SettingsWindowController::requestClearImages() { requestClear(true); }

void SettingsWindowController::requestClearLogs() { requestClear(false); }

void SettingsWindowController::requestClear(bool images) {
    const bool busy = isBusy_ && isBusy_();
    if (busy || loading_ || clearing_ || confirming_ || preparingReport_ || !window_) return;
    confirming_ = true;
    refreshBusyState();
    const std::string title = images ? "Clear local data?" : "Clear diagnostic logs?";
    const std::string detail = images ? "Deletes images, transfer records, Last Paste, and dashboard stats from this Mac."
                                      : "Deletes all local diagnostic events. Saved reports are kept.";
    confirm_(*window_, title, detail, completion<bool>([images](SettingsWindowController& self, bool confirmed) {
                 self.clearAnswered(images, confirmed);
             }));
}

void SettingsWindowController::clearAnswered(bool images, bool confirmed) {
    confirming_ = false;
    if (!confirmed) {
        refreshBusyState();
        return;
    }
    if ((isBusy_ && isBusy_()) || clearing_) {
        setActionStatus(waitText, images);
        refreshBusyState();
        return;
    }
    clearing_ = true;
    setActionStatus("Clearing\u2026", images);
    refreshBusyState();
    const Clear& clear = images ? clearImages_ : clearLogs_;
    auto finished = completion<std::exception_ptr>([images](SettingsWindowController& self, std::exception_ptr error) {
        self.clearFinished(images, error);
    });
    if (!clear) return finished(std::make_exception_ptr(std::runtime_error("nothing clears this data")));
    clear(std::move(finished));
}

void SettingsWindowController::clearFinished(bool images, std::exception_ptr error) {
    clearing_ = false;
    setActionStatus(error ? clearFailedText : clearedText, images);
    refresh();
}

void SettingsWindowController::reviewReport() {
    if (reportPreview_) {
        reportPreview_->showWindow();
        return;
    }
    if (preparingReport_ || clearing_ || confirming_) return;
    preparingReport_ = true;
    refreshBusyState();
    if (!makeReport_) return reportReady("");
    makeReport_(completion<std::string>(
        [](SettingsWindowController& self, std::string text) { self.reportReady(std::move(text)); }));
}

void SettingsWindowController::reportReady(std::string text) {
    preparingReport_ = false;
    auto preview = DiagnosticReportPreviewController::create(std::move(text), chooseSaveURL_, writeReport_);
    std::weak_ptr<SettingsWindowController> weakSelf = weak_from_this();
    std::weak_ptr<DiagnosticReportPreviewController> weakPreview = preview;
    preview->setDidClose([weakSelf, weakPreview] {
        auto self = weakSelf.lock();
        if (!self) return;
        // Only the window that is still the open report frees the slot. The notice comes while
        // its window is still closing: the report controller, which owns that window, is let go
        // of on the next pass of the main run loop, not inside the close.
        if (!self->reportPreview_ || self->reportPreview_ != weakPreview.lock()) return;
        RunLoop::main()->perform([closed = std::move(self->reportPreview_)] {});
        self->reportPreview_ = nullptr;
    });
    reportPreview_ = preview;
    preview->showWindow();
    refreshBusyState();
}

} // namespace tarpelix
