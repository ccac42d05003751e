#include "windows/DiagnosticReportPreviewController.h"

#include "platform/appkit/Application.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Font.h"
#include "platform/appkit/Label.h"
#include "platform/appkit/SavePanel.h"
#include "platform/appkit/ScrollView.h"
#include "platform/appkit/StackView.h"
#include "platform/appkit/TextView.h"
#include "platform/appkit/TitleBar.h"
#include "platform/appkit/ViewConstraint.h"
#include "platform/foundation/Files.h"
#include "platform/foundation/MainThread.h"
#include "ui/InterfaceStyle.h"

namespace tarpelix {

using namespace platform;

namespace {

constexpr double sideInset = 20;
// A saved report is an ordinary document of the user's.
constexpr mode_t reportMode = 0644;

} // namespace

void DiagnosticReportPreviewController::writeAtomically(const Bytes& bytes, const std::filesystem::path& path) {
    files::replaceFileAtomically(path, bytes.data(), bytes.size(), reportMode);
}

std::shared_ptr<DiagnosticReportPreviewController> DiagnosticReportPreviewController::create(std::string text,
                                                                                             ChooseSaveURL chooseSaveURL,
                                                                                             WriteReport writeReport) {
    requireMainThread("DiagnosticReportPreviewController");
    if (!chooseSaveURL) chooseSaveURL = presentSavePanel;
    if (!writeReport) writeReport = writeAtomically;
    std::shared_ptr<DiagnosticReportPreviewController> controller(
        new DiagnosticReportPreviewController(std::move(text), std::move(chooseSaveURL), std::move(writeReport)));
    controller->build();
    return controller;
}

DiagnosticReportPreviewController::DiagnosticReportPreviewController(std::string text, ChooseSaveURL chooseSaveURL,
                                                                     WriteReport writeReport)
    : frozenText_(std::move(text)), chooseSaveURL_(std::move(chooseSaveURL)), writeReport_(std::move(writeReport)),
      writer_(DispatchQueue::create("com.tarpelix.diagnostic-export", QualityOfService::utility)) {}

void DiagnosticReportPreviewController::build() {
    window_ = Window::create({0, 0, contentWidth, contentHeight}, WindowStyle::titled | WindowStyle::closable |
                                                                      WindowStyle::miniaturizable | WindowStyle::resizable);
    window_->setContentMinSize({minimumWidth, minimumHeight});
    window_->setTitle("Review Diagnostic Report");
    window_->setReleasedWhenClosed(false);
    window_->setDelegate(weak_from_this());

    auto explanation = InterfaceStyle::label("Review this report before saving. Nothing is sent automatically.", true);

    // Unwrapped monospaced lines: the container is unbounded and does not follow the view's
    // width, so the text view grows to its longest line and scrolls sideways.
    textView_ = TextView::create();
    textView_->setSelectable(true);
    textView_->setFont(Font::monospacedSystemFont(12));
    textView_->setTextContainerInset({10, 10});
    textView_->textContainer().setWidthTracksTextView(false);
    textView_->textContainer().setSize({TextContainer::unbounded, TextContainer::unbounded});
    textView_->setString(frozenText_);
    // The report itself is what a screen reader reads: an element, or its label goes unheard.
    textView_->setAccessibilityElement(true);
    textView_->setAccessibilityLabel("Diagnostic report");
    // As the document of a scroll view it is wider than what shows: no ring around it.
    textView_->setFocusRingType(FocusRingType::none);

    scrollView_ = ScrollView::create();
    scrollView_->setBorderType(BorderType::bezelBorder);
    scrollView_->setHasVerticalScroller(true);
    scrollView_->setHasHorizontalScroller(true);
    scrollView_->setDocumentView(textView_);

    statusLabel_ = Label::wrappingLabelWithString("");
    statusLabel_->setFont(InterfaceStyle::Font::body());

    std::weak_ptr<DiagnosticReportPreviewController> weak = weak_from_this();
    cancelButton_ = Button::withTitle("Cancel", "cancel", [weak](Control&) {
        if (auto self = weak.lock()) self->cancel();
    });
    cancelButton_->setKeyEquivalent("\x1b");
    saveButton_ = Button::withTitle("Save\u2026", "save", [weak](Control&) {
        if (auto self = weak.lock()) self->save();
    });
    saveButton_->setKeyEquivalent("\r");
    auto buttons = StackView::create({cancelButton_, saveButton_});
    buttons->setOrientation(LayoutAxis::horizontal);
    buttons->setSpacing(10);

    auto& content = *window_->contentView();
    for (const std::shared_ptr<View>& view : std::initializer_list<std::shared_ptr<View>>{
             explanation, scrollView_, statusLabel_, buttons}) {
        view->setTranslatesAutoresizingMaskIntoConstraints(false);
        content.addSubview(view);
    }
    ViewConstraint::activate({
        explanation->topAnchor().constraintEqualTo(content.topAnchor(), sideInset),
        explanation->leadingAnchor().constraintEqualTo(content.leadingAnchor(), sideInset),
        explanation->trailingAnchor().constraintEqualTo(content.trailingAnchor(), -sideInset),
        scrollView_->topAnchor().constraintEqualTo(explanation->bottomAnchor(), 12),
        scrollView_->leadingAnchor().constraintEqualTo(content.leadingAnchor(), sideInset),
        scrollView_->trailingAnchor().constraintEqualTo(content.trailingAnchor(), -sideInset),
        statusLabel_->topAnchor().constraintEqualTo(scrollView_->bottomAnchor(), 12),
        statusLabel_->leadingAnchor().constraintEqualTo(content.leadingAnchor(), sideInset),
        statusLabel_->trailingAnchor().constraintEqualTo(content.trailingAnchor(), -sideInset),
        buttons->topAnchor().constraintEqualTo(statusLabel_->bottomAnchor(), 10),
        buttons->trailingAnchor().constraintEqualTo(content.trailingAnchor(), -sideInset),
        buttons->bottomAnchor().constraintEqualTo(content.bottomAnchor(), -16),
    });
    window_->setInitialFirstResponder(textView_.get());
    window_->center();
}

void DiagnosticReportPreviewController::presentSavePanel(Window& window, SaveURLCompletion completion) {
    requireMainThread("DiagnosticReportPreviewController::presentSavePanel");
    // A window shows one sheet at a time: with another one up there is nothing to choose.
    if (window.attachedSheet()) {
        completion(std::nullopt);
        return;
    }
    auto panel = SavePanel::create();
    panel->setTitle("Save Diagnostic Report");
    panel->setNameFieldStringValue("Tarpelix-Diagnostic-Report.txt");
    panel->setAllowedContentTypes({ContentType::plainText});
    panel->setCanCreateDirectories(true);
    std::weak_ptr<SavePanel> weakPanel = panel; // the panel keeps itself alive while it is up
    panel->beginSheetModal(window, [weakPanel, completion = std::move(completion)](ModalResponse response) {
        auto shown = weakPanel.lock();
        completion(response == ModalResponses::OK && shown ? shown->url() : std::nullopt);
    });
}

void DiagnosticReportPreviewController::showWindow() {
    requireMainThread("DiagnosticReportPreviewController::showWindow");
    window_->makeKeyAndOrderFront();
    window_->orderFrontRegardless();
    Application::shared().activate();
}

void DiagnosticReportPreviewController::setControlsEnabled(bool enabled) {
    saveButton_->setEnabled(enabled);
    cancelButton_->setEnabled(enabled);
    if (auto* close = window_->standardWindowButton(WindowButtonKind::close)) close->setEnabled(enabled);
}

void DiagnosticReportPreviewController::save() {
    requireMainThread("DiagnosticReportPreviewController::save");
    if (saving_) return;
    saving_ = true;
    setControlsEnabled(false);
    statusLabel_->setStringValue("");
    std::weak_ptr<DiagnosticReportPreviewController> weak = weak_from_this();
    chooseSaveURL_(*window_, completionOnMain<std::optional<std::filesystem::path>>(
                                 weak, [](DiagnosticReportPreviewController& self,
                                          std::optional<std::filesystem::path> url) { self.chose(url); }));
}

void DiagnosticReportPreviewController::chose(std::optional<std::filesystem::path> url) {
    if (!saving_) return;
    if (!url) { // cancelled: no error
        saving_ = false;
        setControlsEnabled(true);
        return;
    }
    auto bytes = std::make_shared<const Bytes>(frozenText_.begin(), frozenText_.end());
    // The write holds the controller until its outcome has been applied, and hands it on to
    // the main queue so that it is never released (with its window) on the writer.
    writer_->async([self = shared_from_this(), bytes, path = std::move(*url)]() mutable {
        bool written = true;
        try {
            self->writeReport_(*bytes, path);
        } catch (...) {
            written = false;
        }
        DispatchQueue::main()->async([self = std::move(self), written] { self->finishSave(written); });
    });
}

void DiagnosticReportPreviewController::finishSave(bool written) {
    saving_ = false;
    setControlsEnabled(true);
    if (written) {
        window_->close();
    } else {
        statusLabel_->setStringValue(failureMessage);
    }
}

void DiagnosticReportPreviewController::cancel() {
    requireMainThread("DiagnosticReportPreviewController::cancel");
    if (!saving_) window_->close();
}

bool DiagnosticReportPreviewController::windowShouldClose(Window&) { return !saving_; }

void DiagnosticReportPreviewController::windowWillClose(Window&) {
    // The owner usually lets go of the controller here; it lives until this returns.
    auto keep = shared_from_this();
    if (didClose_) didClose_();
}

} // namespace tarpelix
