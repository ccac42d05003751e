#include "platform/appkit/Window.h"

#include "platform/appkit/AppKitState.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Renderer.h"
#include "platform/appkit/TitleBar.h"
#include "platform/desktop/Screen.h"
#include "platform/desktop/Workspace.h"
#include "platform/foundation/MainThread.h"

#include <algorithm>
#include <cmath>

namespace tarpelix::platform {

namespace {

// The root of a window's views; its next responder is the window.
class FrameView final : public View {
public:
    explicit FrameView(Window& window) : window_(window) {}
    Responder* nextResponder() const override { return &window_; }

private:
    Window& window_;
};

} // namespace

Window::Window(const Rect& contentRect, WindowStyleMask styleMask)
    : styleMask_(styleMask), frameView_(std::make_shared<FrameView>(*this)),
      titleBar_(std::make_shared<TitleBarView>()), contentView_(std::make_shared<View>()) {
    requireMainThread("Window");
    frame_ = frameRectForContentRect(contentRect);
    frameView_->setWindow(this);
    frameView_->addSubview(titleBar_);
    frameView_->addSubview(contentView_);
    setStyleMask(styleMask);
    Application::shared().windowCreated(this);
}

Window::~Window() {
    Application::shared().windowDestroyed(this);
    frameView_->setWindow(nullptr);
    // A sheet left up goes with its window, closed without an answer.
    if (auto sheet = std::move(sheet_)) {
        sheet->sheetParent_ = nullptr;
        sheet->close();
    }
}

// MARK: Style and geometry

void Window::setStyleMask(WindowStyleMask mask) {
    const Rect content = contentRectForFrameRect(frame_);
    styleMask_ = mask;
    frame_ = frameRectForContentRect(content);
    titleBar_->setHidden(!hasTitleBar());
    titleBar_->closeButton().setEnabled((mask & WindowStyle::closable) != 0);
    titleBar_->miniaturizeButton().setEnabled((mask & WindowStyle::miniaturizable) != 0);
    tile();
}

Rect Window::contentRectForFrameRect(const Rect& frame) const {
    if (!hasTitleBar()) return frame;
    return {frame.origin, {frame.size.width, std::max(0.0, frame.size.height - titleBarHeight)}};
}

Rect Window::frameRectForContentRect(const Rect& content) const {
    if (!hasTitleBar()) return content;
    return {content.origin, {content.size.width, content.size.height + titleBarHeight}};
}

void Window::setFrame(const Rect& frame) {
    Rect content = contentRectForFrameRect(frame);
    content.size.width = std::max(content.size.width, contentMinSize_.width);
    content.size.height = std::max(content.size.height, contentMinSize_.height);
    const Rect clamped = frameRectForContentRect(content);
    if (clamped == frame_) return;
    const bool resized = clamped.size != frame_.size;
    frame_ = clamped;
    tile();
    if (resized && delegate()) delegate()->windowDidResize(*this);
}

void Window::setContentSize(Size size) {
    const Rect content = contentRectForFrameRect(frame_);
    // The top edge stays where it is, as when the user's window grows downwards.
    const Rect frame = frameRectForContentRect({content.origin, size});
    setFrame(frame.offsetBy(0, frame_.maxY() - frame.maxY()));
}

void Window::setContentMinSize(Size size) {
    contentMinSize_ = size;
    setFrame(frame_);
}

void Window::center() {
    const auto screen = Screen::mainScreen();
    if (!screen) return;
    const Rect visible = screen->visibleFrame;
    const double x = std::round(visible.midX() - frame_.width() / 2);
    // A third of the spare height above the window, two thirds below.
    const double y = std::round(visible.minY() + (visible.height() - frame_.height()) * 2 / 3);
    setFrameOrigin({x, y});
}

void Window::tile() {
    const Size size = frame_.size;
    frameView_->setFrame({{0, 0}, size});
    const double contentHeight = hasTitleBar() ? std::max(0.0, size.height - titleBarHeight) : size.height;
    titleBar_->setFrame({0, contentHeight, size.width, hasTitleBar() ? titleBarHeight : 0});
    if (contentView_) contentView_->setFrame({0, 0, size.width, contentHeight});
}

void Window::setTitle(std::string title) {
    title_ = std::move(title);
    titleBar_->setNeedsDisplay(true);
}

void Window::setLevel(WindowLevel level) {
    level_ = level;
    if (visible_) Application::shared().orderWindowFront(this);
}

void Window::setBackgroundColor(std::optional<Color> color) {
    backgroundColor_ = std::move(color);
    frameView_->setNeedsDisplay(true);
}

void Window::setAppearance(std::optional<Appearance> appearance) {
    if (appearance == appearance_) return;
    appearance_ = appearance;
    frameView_->effectiveAppearanceDidChange();
}

DrawingAppearance Window::effectiveAppearance() const {
    if (appearance_) return {*appearance_, Workspace::accessibilityDisplayShouldIncreaseContrast()};
    return Application::shared().effectiveAppearance();
}

// MARK: Views

void Window::setContentView(std::shared_ptr<View> view) {
    if (!view) view = std::make_shared<View>();
    if (view == contentView_) return;
    if (contentView_) contentView_->removeFromSuperview();
    contentView_ = std::move(view);
    frameView_->addSubview(contentView_);
    tile();
}

WindowButton* Window::standardWindowButton(WindowButtonKind kind) const {
    if (!hasTitleBar()) return nullptr;
    return kind == WindowButtonKind::close ? &titleBar_->closeButton() : &titleBar_->miniaturizeButton();
}

// MARK: Ordering, key and main

bool Window::isKeyWindow() const { return Application::shared().keyWindow() == this; }
bool Window::isMainWindow() const { return Application::shared().mainWindow() == this; }

bool Window::canBecomeKeyWindow() const {
    return (styleMask_ & (WindowStyle::titled | WindowStyle::resizable)) != 0;
}

bool Window::canBecomeMainWindow() const { return visible_ && canBecomeKeyWindow(); }

void Window::makeKeyAndOrderFront() {
    orderFront();
    makeKeyWindow();
    makeMainWindow();
}

void Window::makeKeyWindow() {
    if (canBecomeKeyWindow()) Application::shared().setKeyWindow(this);
}

void Window::makeMainWindow() {
    if (canBecomeMainWindow()) Application::shared().setMainWindow(this);
}

void Window::orderFront() {
    visible_ = true;
    miniaturized_ = false;
    Application::shared().orderWindowFront(this);
}

void Window::orderFrontRegardless() { orderFront(); }

void Window::orderOut() {
    if (!visible_) return;
    visible_ = false;
    Application::shared().orderWindowOut(this);
}

void Window::performClose() {
    auto* button = standardWindowButton(WindowButtonKind::close);
    if (!button || !button->isEnabled()) {
        appkitstate::countBeep();
        return;
    }
    if (auto* d = delegate()) {
        if (!d->windowShouldClose(*this)) return;
    } else if (!windowShouldClose()) {
        return;
    }
    close();
}

void Window::close() {
    if (auto* d = delegate()) d->windowWillClose(*this);
    NotificationCenter::defaultCenter().post(windowWillCloseNotification, this);
    orderOut();
}

void Window::miniaturize() {
    auto* button = standardWindowButton(WindowButtonKind::miniaturize);
    if (!button || !button->isEnabled()) {
        appkitstate::countBeep();
        return;
    }
    if (miniaturized_) return;
    orderOut();
    miniaturized_ = true;
    if (auto* d = delegate()) d->windowDidMiniaturize(*this);
}

void Window::deminiaturize() {
    if (!miniaturized_) return;
    makeKeyAndOrderFront();
    if (auto* d = delegate()) d->windowDidDeminiaturize(*this);
}

void Window::becomeKey() {
    if (!hasBeenKey_) {
        hasBeenKey_ = true;
        auto initial = initialFirstResponder_.lock();
        if (initial && initial->window() == this) makeFirstResponder(initial.get());
    }
    titleBar_->setNeedsDisplay(true);
    if (auto* d = delegate()) d->windowDidBecomeKey(*this);
    NotificationCenter::defaultCenter().post(windowDidBecomeKeyNotification, this);
}

void Window::resignKey() {
    titleBar_->setNeedsDisplay(true);
    if (auto* d = delegate()) d->windowDidResignKey(*this);
    NotificationCenter::defaultCenter().post(windowDidResignKeyNotification, this);
}

// MARK: First responder and the key-view loop

Responder* Window::firstResponder() const {
    auto responder = firstResponder_.lock();
    return responder ? responder.get() : const_cast<Window*>(this);
}

bool Window::makeFirstResponder(Responder* responder) {
    Responder* current = firstResponder();
    if (responder == current) return true;
    if (current != this && !current->resignFirstResponder()) return false;
    firstResponder_.reset();
    if (auto* view = dynamic_cast<View*>(current)) view->setNeedsDisplay(true);
    if (!responder || responder == this) return true;
    auto* view = dynamic_cast<View*>(responder);
    if ((view && view->window() != this) || !responder->acceptsFirstResponder() || !responder->becomeFirstResponder()) {
        return false;
    }
    firstResponder_ = responder->weak_from_this();
    if (view) view->setNeedsDisplay(true);
    return true;
}

std::vector<View*> Window::keyViewLoop() const {
    if (!contentView_) return {};
    return geometryOrder(contentView_->visibleViews([](const View& view) { return view.canBecomeKeyView(); }));
}

namespace {

View* stepThrough(const std::vector<View*>& loop, View* current, bool forward) {
    if (loop.empty()) return nullptr;
    auto found = std::find(loop.begin(), loop.end(), current);
    if (found == loop.end()) return forward ? loop.front() : loop.back();
    const auto index = std::size_t(found - loop.begin());
    return loop[forward ? (index + 1) % loop.size() : (index + loop.size() - 1) % loop.size()];
}

} // namespace

void Window::selectNextKeyView() {
    auto* current = dynamic_cast<View*>(firstResponder());
    // An explicit loop is followed where the current view has one; it may end without a view.
    View* next = current && current->nextKeyView() ? current->nextValidKeyView() : stepThrough(keyViewLoop(), current, true);
    if (next) makeFirstResponder(next);
}

void Window::selectPreviousKeyView() {
    auto* current = dynamic_cast<View*>(firstResponder());
    View* previous = current && current->previousKeyView() ? current->previousValidKeyView()
                                                           : stepThrough(keyViewLoop(), current, false);
    if (previous) makeFirstResponder(previous);
}

void Window::setInitialFirstResponder(View* view) {
    initialFirstResponder_ = view ? view->sharedView() : nullptr;
}

void Window::viewWillLeaveWindow(View* view) {
    auto* current = dynamic_cast<View*>(firstResponder());
    if (current && current->isDescendantOf(view)) {
        firstResponder_.reset();
        current->setNeedsDisplay(true);
    }
}

// MARK: Events

bool Window::performKeyEquivalent(const KeyEvent& event) { return frameView_->performKeyEquivalent(event); }

void Window::keyDown(const KeyEvent& event) {
    const EventFlags others = EventFlag::command | EventFlag::control | EventFlag::alternate;
    if (event.keyCode == KeyCode::tab && (event.modifierFlags & others) == 0) {
        if (event.hasModifiers(EventFlag::shift)) {
            selectPreviousKeyView();
        } else {
            selectNextKeyView();
        }
        return;
    }
    if (event.keyCode == KeyCode::escape) {
        Responder* responder = firstResponder();
        if (responder == this) {
            cancelOperation();
        } else {
            responder->cancelOperation();
        }
        return;
    }
    Responder::keyDown(event);
}

void Window::sendEvent(const KeyEvent& received) {
    if (sheet_) return sheet_->sendEvent(received);
    KeyEvent event = received;
    event.window = this;
    if (event.type == EventType::keyDown) {
        if (performKeyEquivalent(event)) return;
        auto& application = Application::shared();
        if (application.mainMenu() && application.mainMenu()->performKeyEquivalent(event)) return;
        firstResponder()->keyDown(event);
    } else if (event.type == EventType::keyUp) {
        firstResponder()->keyUp(event);
    }
}

void Window::sendEvent(const MouseEvent& event) {
    if (sheet_) {
        // The window is blocked by its sheet.
        if (event.type == EventType::leftMouseDown) appkitstate::countBeep();
        return;
    }
    View* view = hitTest(event.locationInWindow);
    if (!view) return;
    if (event.type == EventType::leftMouseDown) {
        if (view->acceptsFirstResponder() && view->isEnabled()) makeFirstResponder(view);
        view->mouseDown(event);
    } else if (event.type == EventType::leftMouseUp) {
        view->mouseUp(event);
    }
}

View* Window::hitTest(Point pointInWindow) const { return frameView_->hitTest(pointInWindow); }

// MARK: Drawing

void Window::draw(GraphicsContext& context) {
    std::optional<DrawingAppearanceScope> scope;
    if (appearance_) scope.emplace(effectiveAppearance());
    layoutIfNeeded();
    const Color background = backgroundColor_.value_or(Color::windowBackgroundColor());
    context.fill(Path::rect({{0, 0}, frame_.size}), background);
    frameView_->displayRecursively(context);
    // The focus ring of the first responder, around its mask, while the window is key.
    auto* focused = dynamic_cast<View*>(firstResponder());
    if (focused && isKeyWindow() && focused->focusRingType() != FocusRingType::none &&
        !focused->isHiddenOrHasHiddenAncestor()) {
        context.saveGState();
        context.concatenate(focused->transformToWindow());
        focused->drawFocusRingMask(context);
        context.restoreGState();
    }
    if (sheet_ && sheet_->isVisible()) {
        context.saveGState();
        context.translate(sheet_->frame_.minX() - frame_.minX(), sheet_->frame_.minY() - frame_.minY());
        sheet_->draw(context);
        context.restoreGState();
    }
}

// MARK: Sheets

bool Window::beginSheet(std::shared_ptr<Window> sheet) {
    requireMainThread("Window::beginSheet");
    if (sheet_ || !sheet || sheet.get() == this) return false;
    sheet->layoutIfNeeded();
    const Rect content = contentRectForFrameRect(frame_);
    const Size size = sheet->frame().size;
    sheet->setFrame({{std::round(content.midX() - size.width / 2), content.maxY() - size.height}, size});
    sheet->sheetParent_ = this;
    sheet_ = std::move(sheet);
    sheet_->makeKeyAndOrderFront();
    frameView_->setNeedsDisplay(true);
    return true;
}

void Window::endSheet(Window& sheet) {
    requireMainThread("Window::endSheet");
    if (sheet_.get() != &sheet) return;
    const auto keep = std::move(sheet_);
    keep->sheetParent_ = nullptr;
    keep->orderOut();
    if (isVisible() && canBecomeKeyWindow()) makeKeyWindow();
    frameView_->setNeedsDisplay(true);
}

void Window::layoutIfNeeded() {
    if (!layout_) layout_ = std::make_unique<WindowLayout>(*this);
    constexpr int maximumRounds = 4;
    for (int round = 0; round < maximumRounds; ++round) {
        if (needsConstraintLayout_) {
            needsConstraintLayout_ = false;
            applyingLayout_ = true;
            struct Done {
                bool& flag;
                ~Done() { flag = false; }
            } done{applyingLayout_};
            layout_->run();
        }
        frameView_->layoutSubtreeIfNeeded();
        if (!needsConstraintLayout_) return;
    }
}

std::vector<WindowLayoutIssue> Window::layoutIssues() const { return layout_ ? layout_->issues() : std::vector<WindowLayoutIssue>{}; }

void Window::displayIfNeeded() {
    layoutIfNeeded();
    if (backing_ && !frameView_->subtreeNeedsDisplay()) return;
    display();
}

void Window::display() {
    backing_ = record();
    ++displayCount_;
}

RecordingContext Window::record() {
    RecordingContext recording(frame_.size);
    draw(recording);
    return recording;
}

void Window::writePNG(const std::filesystem::path& path) { Renderer::writePNG(record(), path); }

} // namespace tarpelix::platform
