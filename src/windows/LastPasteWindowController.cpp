#include "windows/LastPasteWindowController.h"

#include "platform/appkit/Application.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Events.h"
#include "platform/appkit/GraphicsImage.h"
#include "platform/appkit/ImageView.h"
#include "platform/appkit/Label.h"
#include "platform/appkit/Path.h"
#include "platform/appkit/ScrollView.h"
#include "platform/appkit/StackView.h"
#include "platform/appkit/ViewConstraint.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/foundation/MainThread.h"
#include "ui/InterfaceCardView.h"
#include "ui/InterfaceStyle.h"
#include "windows/CopyLastImageController.h"
#include "windows/CopyLastUploadController.h"
#include "windows/LastPasteContent.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace tarpelix {

using namespace platform;

namespace {

constexpr double pageInset = 24;
constexpr Size previewArea{152, 114};

bool exactlyCommand(const KeyEvent& event) {
    return (event.modifierFlags & deviceIndependentFlagsMask) == EventFlag::command;
}

std::string lowercasedKey(const KeyEvent& event) {
    std::string key = event.charactersIgnoringModifiers;
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return key;
}

std::shared_ptr<Button> copyButton(const std::string& title, const std::string& accessibilityLabel) {
    auto button = Button::withTitle(title);
    button->setBezelStyle(BezelStyle::rounded);
    button->setControlSize(ControlSize::small);
    button->setEnabled(false);
    button->setAccessibilityLabel(accessibilityLabel);
    return button;
}

void pinEdges(ViewConstraints& constraints, View& inner, View& outer, double inset) {
    constraints.push_back(inner.topAnchor().constraintEqualTo(outer.topAnchor(), inset));
    constraints.push_back(inner.leadingAnchor().constraintEqualTo(outer.leadingAnchor(), inset));
    constraints.push_back(inner.trailingAnchor().constraintEqualTo(outer.trailingAnchor(), -inset));
    constraints.push_back(inner.bottomAnchor().constraintEqualTo(outer.bottomAnchor(), -inset));
}

void sameWidth(ViewConstraints& constraints, View& view, View& as) {
    constraints.push_back(view.widthAnchor().constraintEqualTo(as.widthAnchor()));
}

} // namespace

// MARK: Views of the window

bool LastPasteWindow::performKeyEquivalent(const KeyEvent& event) {
    if (event.keyCode == KeyCode::escape || (exactlyCommand(event) && lowercasedKey(event) == "w")) {
        performClose();
        return true;
    }
    return Window::performKeyEquivalent(event);
}

bool LastPasteTextView::performKeyEquivalent(const KeyEvent& event) {
    if (exactlyCommand(event)) {
        const std::string key = lowercasedKey(event);
        if (key == "a") {
            selectAll();
            return true;
        }
        if (key == "c") {
            copySelection();
            return true;
        }
    }
    return TextView::performKeyEquivalent(event);
}

void LastPasteTextView::cancelOperation() {
    if (window()) window()->performClose();
}

void LastPastePreviewBackground::viewDidChangeEffectiveAppearance() {
    View::viewDidChangeEffectiveAppearance();
    setNeedsDisplay(true);
}

void LastPastePreviewBackground::draw(GraphicsContext& context, const Rect&) {
    context.fill(Path::roundedRect(bounds(), 6, 6), Color::quaternaryLabelColor().withAlphaComponent(0.08));
}

// MARK: Creation

std::shared_ptr<LastPasteWindowController> LastPasteWindowController::create(Load load, ReadImage readImage,
                                                                             WritePath writePath,
                                                                             WriteImage writeImage,
                                                                             ScheduleRefresh scheduleRefresh,
                                                                             Activate activate) {
    requireMainThread("LastPasteWindowController");
    if (!readImage) readImage = [](const Uuid&, ReadCompletion completion) { completion(std::nullopt); };
    if (!writePath) writePath = [](const std::string& path) { return CopyLastUploadController::writePlainText(path); };
    if (!writeImage) writeImage = [](const Bytes& png) { return CopyLastImageController::writePNG(png); };
    if (!scheduleRefresh) scheduleRefresh = scheduleTimer;
    if (!activate) activate = [] { Application::shared().activate(); };
    std::shared_ptr<LastPasteWindowController> controller(
        new LastPasteWindowController(std::move(load), std::move(readImage), std::move(writePath),
                                      std::move(writeImage), std::move(scheduleRefresh), std::move(activate)));
    controller->window_->setDelegate(controller);
    std::weak_ptr<LastPasteWindowController> weak = controller;
    controller->copyPathButton_->setAction("copyPath", [weak](Control&) {
        if (auto self = weak.lock()) self->copyPath();
    });
    controller->copyImageButton_->setAction("copyImage", [weak](Control&) {
        if (auto self = weak.lock()) self->copyImage();
    });
    return controller;
}

LastPasteWindowController::LastPasteWindowController(Load load, ReadImage readImage, WritePath writePath,
                                                     WriteImage writeImage, ScheduleRefresh scheduleRefresh,
                                                     Activate activate)
    : readImage_(std::move(readImage)), writePath_(std::move(writePath)), writeImage_(std::move(writeImage)),
      load_(std::move(load)), scheduleRefresh_(std::move(scheduleRefresh)), activate_(std::move(activate)) {
    textView_ = std::make_shared<LastPasteTextView>();
    scrollView_ = ScrollView::create();
    outcomeLabel_ = InterfaceStyle::label("");
    metadataLabel_ = InterfaceStyle::label("", true);
    recoveryCard_ = InterfaceCardView::create();
    documentView_ = std::make_shared<PageDocumentView>(pageInset, pageInset);
    previewView_ = std::make_shared<ImageView>();
    previewLabel_ = InterfaceStyle::label("No image available", true);
    pathTitle_ = InterfaceStyle::label("Uploaded path");
    pathLabel_ = InterfaceStyle::label("No confirmed uploaded path");
    copyImageButton_ = copyButton("Copy Image", "Copy image from this paste");
    copyPathButton_ = copyButton("Copy Path", "Copy uploaded path from this paste");
    copyFeedback_ = InterfaceStyle::label("", true);
    previewWorker_ = DispatchQueue::create("com.tarpelix.recovery-preview", QualityOfService::userInitiated);

    window_ = std::make_shared<LastPasteWindow>(
        Rect{{0, 0}, contentSize},
        WindowStyle::titled | WindowStyle::closable | WindowStyle::miniaturizable | WindowStyle::resizable);
    window_->setTitle("Last Paste Status");
    window_->setContentMinSize(minimumContentSize);
    window_->setReleasedWhenClosed(false);

    auto& content = *window_->contentView();
    scrollView_->setFrame(content.bounds());
    scrollView_->setAutoresizingMask(autoresizingWidthSizable | autoresizingHeightSizable);
    scrollView_->setHasVerticalScroller(true);
    scrollView_->setDrawsBackground(false);
    scrollView_->setScrollerStyle(ScrollerStyle::overlay);

    textView_->setFrame(scrollView_->bounds());
    textView_->setSelectable(true);
    textView_->setFont(InterfaceStyle::Font::reading());
    textView_->setTextColor(Color::labelColor());
    textView_->textContainer().setSize({scrollView_->frame().width(), TextContainer::unbounded});
    textView_->textContainer().setWidthTracksTextView(true);
    textView_->setFocusRingType(FocusRingType::none); // as a Mac text view: the selection shows focus
    textView_->setAccessibilityElement(true);
    textView_->setAccessibilityLabel("Last paste details");

    buildContent();
    window_->setInitialFirstResponder(textView_.get());
    window_->center();
}

LastPasteWindowController::~LastPasteWindowController() {
    if (cancelRefresh_) cancelRefresh_();
}

void LastPasteWindowController::buildContent() {
    auto& content = *window_->contentView();
    content.setWantsLayer(true);
    content.addSubview(scrollView_);
    scrollView_->setDocumentView(documentView_);
    documentView_->setFrame({0, 0, scrollView_->frame().width(), scrollView_->frame().height()});

    ViewConstraints constraints;

    outcomeLabel_->setFont(Font::systemFont(22, FontWeight::semibold));
    metadataLabel_->setFont(InterfaceStyle::Font::caption());
    auto header = InterfaceStyle::stack(LayoutAxis::vertical, StackView::Alignment::leading, 6, {outcomeLabel_, metadataLabel_});
    sameWidth(constraints, *outcomeLabel_, *header);
    sameWidth(constraints, *metadataLabel_, *header);

    // The preview area: the thumbnail inset 8 points, the text over it when there is none.
    auto preview = std::make_shared<LastPastePreviewBackground>();
    preview->setTranslatesAutoresizingMaskIntoConstraints(false);
    previewView_->setTranslatesAutoresizingMaskIntoConstraints(false);
    previewView_->setImageScaling(ImageScaling::scaleProportionallyDown);
    previewView_->setAccessibilityLabel("Image from the last paste attempt");
    previewLabel_->setTranslatesAutoresizingMaskIntoConstraints(false);
    previewLabel_->setFont(InterfaceStyle::Font::caption());
    previewLabel_->setAlignment(TextAlignment::center);
    previewLabel_->setIdentifier("lastPaste.previewLabel");
    preview->addSubview(previewView_);
    preview->addSubview(previewLabel_);
    constraints.push_back(preview->widthAnchor().constraintEqualToConstant(previewArea.width));
    constraints.push_back(preview->heightAnchor().constraintEqualToConstant(previewArea.height));
    pinEdges(constraints, *previewView_, *preview, 8);
    constraints.push_back(previewLabel_->leadingAnchor().constraintEqualTo(preview->leadingAnchor(), 12));
    constraints.push_back(previewLabel_->trailingAnchor().constraintEqualTo(preview->trailingAnchor(), -12));
    constraints.push_back(previewLabel_->centerYAnchor().constraintEqualTo(preview->centerYAnchor()));

    pathTitle_->setFont(Font::systemFont(13, FontWeight::semibold));
    pathLabel_->setFont(Font::monospacedSystemFont(12));
    pathLabel_->setLineBreakMode(LineBreakMode::byWordWrapping);
    pathLabel_->setMaximumNumberOfLines(0);
    auto pathColumn = InterfaceStyle::stack(LayoutAxis::vertical, StackView::Alignment::leading, 8, {pathTitle_, pathLabel_});
    pathColumn->setContentHuggingPriority(1, LayoutAxis::horizontal);
    sameWidth(constraints, *pathTitle_, *pathColumn);
    sameWidth(constraints, *pathLabel_, *pathColumn);
    auto row = InterfaceStyle::stack(LayoutAxis::horizontal, StackView::Alignment::top, 20, {preview, pathColumn});

    // "Copy Image" sits at the leading edge of a holder as wide as the preview area, so that
    // "Copy Path" lines up with the path column.
    auto holder = View::create();
    holder->setIdentifier("lastPaste.holder");
    holder->setTranslatesAutoresizingMaskIntoConstraints(false);
    copyImageButton_->setTranslatesAutoresizingMaskIntoConstraints(false);
    holder->addSubview(copyImageButton_);
    constraints.push_back(holder->widthAnchor().constraintEqualToConstant(previewArea.width));
    constraints.push_back(copyImageButton_->leadingAnchor().constraintEqualTo(holder->leadingAnchor()));
    constraints.push_back(copyImageButton_->topAnchor().constraintEqualTo(holder->topAnchor()));
    constraints.push_back(copyImageButton_->bottomAnchor().constraintEqualTo(holder->bottomAnchor()));
    auto spacer = View::create();
    spacer->setIdentifier("lastPaste.spacer");
    spacer->setTranslatesAutoresizingMaskIntoConstraints(false);
    spacer->setContentHuggingPriority(1, LayoutAxis::horizontal);
    constraints.push_back(spacer->heightAnchor().constraintEqualToConstant(1));
    auto buttons = InterfaceStyle::stack(LayoutAxis::horizontal, StackView::Alignment::center, 20, {holder, copyPathButton_, spacer});

    auto cardStack = InterfaceStyle::stack(LayoutAxis::vertical, StackView::Alignment::leading, 12, {row, buttons});
    recoveryCard_->setTranslatesAutoresizingMaskIntoConstraints(false);
    recoveryCard_->addSubview(cardStack);
    pinEdges(constraints, *cardStack, *recoveryCard_, 16);
    sameWidth(constraints, *row, *cardStack);
    sameWidth(constraints, *buttons, *cardStack);

    copyFeedback_->setFont(InterfaceStyle::Font::caption());
    copyFeedback_->setHidden(true);

    textView_->setDrawsBackground(false);
    textView_->setTextContainerInset({0, 0});
    textView_->textContainer().setLineFragmentPadding(0);
    textView_->setTranslatesAutoresizingMaskIntoConstraints(false);
    detailsHeight_ = textView_->heightAnchor().constraintEqualToConstant(1);
    constraints.push_back(detailsHeight_);

    auto page = InterfaceStyle::stack(LayoutAxis::vertical, StackView::Alignment::leading, 20,
                      {header, recoveryCard_, copyFeedback_, textView_});
    for (auto& [view, name] : std::vector<std::pair<View*, const char*>>{
             {preview.get(), "preview"}, {previewView_.get(), "previewView"}, {pathColumn.get(), "pathColumn"},
             {row.get(), "row"}, {buttons.get(), "buttons"}, {cardStack.get(), "cardStack"}, {page.get(), "page"},
             {header.get(), "header"}, {textView_.get(), "text"}, {copyPathButton_.get(), "copyPath"},
             {copyImageButton_.get(), "copyImage"}, {recoveryCard_.get(), "card"}, {pathLabel_.get(), "pathLabel"},
             {pathTitle_.get(), "pathTitle"}})
        view->setIdentifier(std::string("lastPaste.") + name);
    documentView_->addSubview(page);
    constraints.push_back(page->topAnchor().constraintEqualTo(documentView_->topAnchor(), pageInset));
    constraints.push_back(page->leadingAnchor().constraintEqualTo(documentView_->leadingAnchor(), pageInset));
    constraints.push_back(page->trailingAnchor().constraintEqualTo(documentView_->trailingAnchor(), -pageInset));
    for (const auto& item : page->arrangedSubviews()) sameWidth(constraints, *item, *page);
    ViewConstraint::activate(constraints);
}

LastPasteWindowController::Canceller LastPasteWindowController::scheduleTimer(std::function<void()> action) {
    auto timer = RunLoop::main()->scheduleTimer(1.0, true, TimerMode::defaultMode,
                                                [action = std::move(action)](RunLoopTimer&) { action(); });
    return [timer] { timer->invalidate(); };
}

View& LastPasteWindowController::recoveryCard() const { return *recoveryCard_; }

template <typename Value, typename Accept>
std::function<void(Value)> LastPasteWindowController::onMain(Accept accept) {
    return completionOnMain<Value>(weak_from_this(), std::move(accept));
}

// MARK: Opening, loading and closing

void LastPasteWindowController::showWindow() {
    requireMainThread("LastPasteWindowController::showWindow");
    if (presented_) {
        refreshIfVisible();
    } else {
        presented_ = true;
        invalidate();
        outcomeLabel_->setStringValue("Loading last paste status\u2026");
        refreshIfVisible();
        std::weak_ptr<LastPasteWindowController> weak = weak_from_this();
        cancelRefresh_ = scheduleRefresh_([weak] {
            auto self = weak.lock();
            if (self && !self->loading_) self->refreshIfVisible();
        });
    }
    window_->makeKeyAndOrderFront();
    activate_();
}

void LastPasteWindowController::refreshIfVisible() {
    requireMainThread("LastPasteWindowController::refreshIfVisible");
    if (!presented_) return;
    if (loading_) {
        refreshPending_ = true;
        return;
    }
    loading_ = true;
    const std::int64_t revision = ++revision_;
    load_(onMain<Result>([revision](LastPasteWindowController& self, Result result) {
        self.loaded(revision, std::move(result));
    }));
}

void LastPasteWindowController::loaded(std::int64_t revision, Result result) {
    if (!presented_ || revision_ != revision) return;
    loading_ = false;
    if (refreshPending_) {
        refreshPending_ = false;
        refreshIfVisible();
        return;
    }
    applyContext(std::move(result));
    showDetails();
}

void LastPasteWindowController::applyContext(Result result) {
    const auto idOf = [](const std::optional<Result>& r) -> std::optional<Uuid> {
        if (!r || !r->attempt) return std::nullopt;
        return r->attempt->id;
    };
    if (idOf(current_) != idOf(result)) invalidate();
    current_ = std::move(result);
    const Result& shown = *current_;

    recoveryCard_->setHidden(!shown.attempt);
    outcomeLabel_->setStringValue(LastPasteContent::headline(shown));
    metadataLabel_->setStringValue(LastPasteContent::metadataLine(shown));

    const auto path = LastPasteContent::pathRow(shown);
    pathTitle_->setStringValue(path.title);
    pathLabel_->setStringValue(path.text);
    pathLabel_->setToolTip(path.toolTip.value_or(""));

    const auto image = LastPasteContent::validImage(shown);
    if (!image) {
        if (previewID_) {
            // The image of the shown preview is gone: drop the preview and any copy under way.
            ++contextRevision_;
            copying_ = false;
        }
        previewID_.reset();
        previewView_->setImage(std::nullopt);
        previewLabel_->setStringValue("No retained image");
        previewLabel_->setHidden(false);
        updateCopyButtons();
        return;
    }
    updateCopyButtons();
    const Uuid id = image->record.id;
    if (previewID_ == id) return; // shown, or on its way
    previewID_ = id;
    previewLabel_->setStringValue("Loading preview\u2026");
    previewLabel_->setHidden(false);

    std::weak_ptr<LastPasteWindowController> weak = weak_from_this();
    readImage_(id, [weak, worker = previewWorker_, context = contextRevision_, id](std::optional<Bytes> png) {
        worker->async([weak, context, id, png = std::move(png)] {
            std::shared_ptr<const Image> thumbnail;
            if (png) thumbnail = LastPasteImage::thumbnail(*png);
            DispatchQueue::main()->async([weak, context, id, thumbnail] {
                if (auto self = weak.lock()) self->previewDecoded(context, id, thumbnail);
            });
        });
    });
}

void LastPasteWindowController::previewDecoded(std::int64_t contextRevision, const Uuid& id,
                                               std::shared_ptr<const Image> thumbnail) {
    if (!presented_ || contextRevision_ != contextRevision || previewID_ != id) return;
    if (!current_ || !LastPasteContent::validImage(*current_)) return;
    if (thumbnail) {
        previewView_->setImage(GraphicsImage::bitmap(std::move(thumbnail)));
    } else {
        previewView_->setImage(std::nullopt);
    }
    previewLabel_->setHidden(previewView_->image().has_value());
    previewLabel_->setStringValue("Preview unavailable");
    updateCopyButtons();
}

void LastPasteWindowController::showDetails() {
    AttributedString text = LastPasteContent::details(*current_);
    if (text == textView_->textStorage()) return; // keeps the selection and the scroll position
    textView_->setAttributedString(std::move(text));
    windowDidResize(*window_);
}

void LastPasteWindowController::invalidate() {
    requireMainThread("LastPasteWindowController::invalidate");
    ++revision_;
    loading_ = false;
    refreshPending_ = false;
    ++contextRevision_;
    current_.reset();
    previewID_.reset();
    copying_ = false;
    previewView_->setImage(std::nullopt);
    previewLabel_->setStringValue("No image available");
    previewLabel_->setHidden(false);
    outcomeLabel_->setStringValue("");
    metadataLabel_->setStringValue("");
    recoveryCard_->setHidden(true);
    pathTitle_->setStringValue("Uploaded path");
    pathLabel_->setStringValue("No confirmed uploaded path");
    pathLabel_->setToolTip("");
    copyFeedback_->setStringValue("");
    copyFeedback_->setHidden(true);
    textView_->setString("");
    updateCopyButtons();
}

void LastPasteWindowController::windowWillClose(Window&) {
    requireMainThread("LastPasteWindowController::windowWillClose");
    presented_ = false;
    invalidate();
    ++revision_;
    loading_ = false;
    refreshPending_ = false;
    if (cancelRefresh_) {
        auto cancel = std::move(cancelRefresh_);
        cancelRefresh_ = nullptr;
        cancel();
    }
}

void LastPasteWindowController::windowDidResize(Window&) {
    // The details are as tall as their text laid out at the page's width.
    const double width = std::max(scrollView_->contentSize().width - 2 * pageInset, 1.0);
    textView_->textContainer().setSize({width, TextContainer::unbounded});
    // The container tracks the view's width: give the view that width now, as the next layout will.
    textView_->setFrameSize({width, textView_->frame().height()});
    detailsHeight_->setConstant(std::max(std::ceil(textView_->usedRect().height()), 1.0));
}

// MARK: Copying

void LastPasteWindowController::updateCopyButtons() {
    const bool upload = current_ && LastPasteContent::validUpload(*current_);
    const bool image = current_ && LastPasteContent::validImage(*current_) && previewView_->image();
    copyPathButton_->setEnabled(!copying_ && upload);
    copyImageButton_->setEnabled(!copying_ && image);
}

void LastPasteWindowController::copyPath() { copy(false); }

void LastPasteWindowController::copyImage() { copy(true); }

void LastPasteWindowController::copy(bool image) {
    requireMainThread("LastPasteWindowController::copy");
    if (!presented_ || copying_ || !current_ || !current_->attempt) return;
    const Uuid attempt = current_->attempt->id;
    const std::int64_t context = contextRevision_;
    copying_ = true;
    updateCopyButtons();
    load_(onMain<Result>([context, attempt, image](LastPasteWindowController& self, Result fresh) {
        self.copyLoaded(context, attempt, image, std::move(fresh));
    }));
}

void LastPasteWindowController::copyLoaded(std::int64_t contextRevision, const Uuid& attempt, bool image,
                                           Result fresh) {
    if (!presented_ || contextRevision_ != contextRevision) return;
    if (!fresh.attempt || fresh.attempt->id != attempt) {
        return finishCopy("This paste is no longer current. Reopen Last Paste Status.", true);
    }
    if (!image) {
        const auto upload = LastPasteContent::validUpload(fresh);
        if (!upload) return finishCopy("This uploaded path is no longer available.", true);
        const bool written = writePath_(*upload->record.confirmedRemotePath);
        return finishCopy(written ? "Uploaded path copied." : "Could not copy the path. Try again.", false);
    }
    if (!LastPasteContent::validImage(fresh)) return finishCopy("This image is no longer available.", true);
    // The bytes are checked off the main thread; the answer counts only for this context.
    auto checked = onMain<LastPasteImage::Checked>(
        [contextRevision](LastPasteWindowController& self, LastPasteImage::Checked checked) {
            self.imageChecked(contextRevision, std::move(checked));
        });
    readImage_(attempt, [checked = std::move(checked)](std::optional<Bytes> png) {
        LastPasteImage::check(std::move(png), checked);
    });
}

void LastPasteWindowController::imageChecked(std::int64_t contextRevision, LastPasteImage::Checked checked) {
    if (!presented_ || contextRevision_ != contextRevision) return;
    if (checked.refused) {
        // The file changed since its preview and is no longer an image: the preview goes too.
        previewView_->setImage(std::nullopt);
        previewLabel_->setStringValue("Preview unavailable");
        previewLabel_->setHidden(false);
    }
    if (!checked.png) return finishCopy("This image is no longer available.", false);
    const bool written = writeImage_(*checked.png);
    finishCopy(written ? "Image copied." : "Could not copy the image. Try again.", false);
}

void LastPasteWindowController::finishCopy(const std::string& message, bool reload) {
    copying_ = false;
    copyFeedback_->setStringValue(message);
    copyFeedback_->setHidden(false);
    updateCopyButtons();
    if (reload) refreshIfVisible();
}

} // namespace tarpelix
