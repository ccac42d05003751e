#include "platform/appkit/View.h"

#include "platform/appkit/AppKitState.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Layer.h"
#include "platform/appkit/ViewConstraint.h"
#include "platform/appkit/Window.h"
#include "platform/desktop/Workspace.h"
#include "platform/foundation/MainThread.h"

#include <algorithm>
#include <set>

namespace tarpelix::platform {

std::string accessibilityRoleDescription(AccessibilityRole role) {
    switch (role) {
    case AccessibilityRole::none:
    case AccessibilityRole::staticText:
    case AccessibilityRole::row:
    case AccessibilityRole::cell:
        return {};
    case AccessibilityRole::group: return "group";
    case AccessibilityRole::heading: return "heading";
    case AccessibilityRole::button: return "button";
    case AccessibilityRole::checkBox: return "checkbox";
    case AccessibilityRole::radioButton: return "radio button";
    case AccessibilityRole::switchControl: return "switch";
    case AccessibilityRole::popUpButton: return "pop up button";
    case AccessibilityRole::menuButton: return "menu button";
    case AccessibilityRole::link: return "link";
    case AccessibilityRole::image: return "image";
    case AccessibilityRole::textField: return "text field";
    case AccessibilityRole::textArea: return "text";
    case AccessibilityRole::table: return "table";
    case AccessibilityRole::scrollArea: return "scroll area";
    case AccessibilityRole::progressIndicator: return "progress indicator";
    case AccessibilityRole::disclosureTriangle: return "disclosure triangle";
    case AccessibilityRole::slider: return "slider";
    case AccessibilityRole::tabGroup: return "tab group";
    case AccessibilityRole::window: return "window";
    }
    return {};
}

View::View(const Rect& frame) : frame_(frame) { requireMainThread("View"); }

View::~View() {
    for (auto& constraint : constraints_) constraint->installedOn_ = nullptr;
    // Subviews someone else still holds are left without a superview or window.
    for (auto& view : subviews_) {
        view->superview_ = nullptr;
        view->setWindow(nullptr);
    }
}

// MARK: The tree

void View::addSubview(std::shared_ptr<View> view) { insertAt(std::move(view), subviews_.size()); }

void View::addSubview(std::shared_ptr<View> view, WindowOrderingMode place, const View* relativeTo) {
    if (!view) return;
    if (view->superview_ == this) view->removeFromSuperview(); // the index below is then current
    auto found = std::find_if(subviews_.begin(), subviews_.end(), [&](const auto& v) { return v.get() == relativeTo; });
    std::size_t index = place == WindowOrderingMode::above ? subviews_.size() : 0;
    if (found != subviews_.end()) {
        index = std::size_t(found - subviews_.begin()) + (place == WindowOrderingMode::above ? 1 : 0);
    }
    insertAt(std::move(view), index);
}

void View::insertSubview(std::shared_ptr<View> view, std::size_t index) { insertAt(std::move(view), index); }

void View::insertAt(std::shared_ptr<View> view, std::size_t index) {
    requireMainThread("View::addSubview");
    if (!view || view.get() == this || isDescendantOf(view.get())) return;
    const auto keep = view; // removing it from its old superview must not release it
    if (view->superview_) view->removeFromSuperview();
    index = std::min(index, subviews_.size());
    subviews_.insert(subviews_.begin() + std::ptrdiff_t(index), view);
    view->superview_ = this;
    view->setWindow(window_);
    constraintLayoutChanged();
    view->viewDidMoveToSuperview();
    didAddSubview(view.get());
    setNeedsDisplay(true);
}

void View::removeFromSuperview() {
    requireMainThread("View::removeFromSuperview");
    View* parent = superview_;
    if (!parent) return;
    const auto keep = sharedView();
    parent->willRemoveSubview(this);
    dropConstraintsCrossingCut();
    constraintLayoutChanged();
    if (window_) window_->viewWillLeaveWindow(this);
    auto& siblings = parent->subviews_;
    siblings.erase(std::remove_if(siblings.begin(), siblings.end(), [&](const auto& v) { return v.get() == this; }),
                   siblings.end());
    superview_ = nullptr;
    setWindow(nullptr);
    viewDidMoveToSuperview();
    parent->setNeedsDisplay(true);
}

bool View::isDescendantOf(const View* view) const {
    for (const View* v = this; v; v = v->superview_) {
        if (v == view) return true;
    }
    return false;
}

std::vector<View*> View::visibleViews(const std::function<bool(const View&)>& matching) {
    std::vector<View*> found;
    if (hidden_) return found;
    if (matching(*this)) found.push_back(this);
    for (const auto& view : subviews_) {
        auto more = view->visibleViews(matching);
        found.insert(found.end(), more.begin(), more.end());
    }
    return found;
}

View* View::viewWithIdentifier(const std::string& identifier) {
    if (identifier_ == identifier) return this;
    for (const auto& view : subviews_) {
        if (auto* found = view->viewWithIdentifier(identifier)) return found;
    }
    return nullptr;
}

void View::setWindow(Window* window) {
    if (window_ == window) return;
    window_ = window;
    for (const auto& view : subviews_) view->setWindow(window);
    viewDidMoveToWindow();
}

// MARK: Geometry

void View::setFrame(const Rect& frame) {
    if (frame == frame_) return;
    const bool resized = frame.size != frame_.size;
    const Size oldSize = frame_.size;
    frame_ = frame;
    if (resized) {
        setNeedsLayout(true);
        resizeSubviews(oldSize);
    }
    constraintLayoutChanged();
    updateLayerGeometry();
    setNeedsDisplay(true);
    if (superview_) superview_->setNeedsDisplay(true);
}

void View::setBoundsOrigin(Point origin) {
    if (origin == boundsOrigin_) return;
    boundsOrigin_ = origin;
    setNeedsDisplay(true);
}

AffineTransform View::transformToSuperview() const {
    // Into the unflipped space of the frame (origin at its lower-left corner) ...
    AffineTransform t = AffineTransform::translation(-boundsOrigin_.x, -boundsOrigin_.y);
    if (isFlipped()) t = t.concat({1, 0, 0, -1, 0, frame_.size.height});
    // ... then into the superview, whose space may be flipped.
    if (superview_ && superview_->isFlipped()) {
        return t.concat({1, 0, 0, -1, frame_.origin.x, frame_.origin.y + frame_.size.height});
    }
    return t.concat(AffineTransform::translation(frame_.origin.x, frame_.origin.y));
}

AffineTransform View::transformToWindow() const {
    AffineTransform t;
    for (const View* v = this; v; v = v->superview_) t = t.concat(v->transformToSuperview());
    return t;
}

Point View::convertPoint(Point point, const View* from) const {
    const Point inWindow = from ? from->transformToWindow().apply(point) : point;
    return transformToWindow().inverted().apply(inWindow);
}

Point View::convertPointTo(Point point, const View* to) const {
    const Point inWindow = transformToWindow().apply(point);
    return to ? to->transformToWindow().inverted().apply(inWindow) : inWindow;
}

namespace {
Rect mapRect(const AffineTransform& t, const Rect& rect) {
    const Point a = t.apply(rect.origin);
    const Point b = t.apply(Point{rect.origin.x + rect.size.width, rect.origin.y + rect.size.height});
    return Rect{a.x, a.y, b.x - a.x, b.y - a.y}.standardized();
}
} // namespace

Rect View::convertRect(const Rect& rect, const View* from) const {
    AffineTransform t = from ? from->transformToWindow() : AffineTransform{};
    return mapRect(t.concat(transformToWindow().inverted()), rect);
}

Rect View::convertRectTo(const Rect& rect, const View* to) const {
    AffineTransform t = transformToWindow();
    if (to) t = t.concat(to->transformToWindow().inverted());
    return mapRect(t, rect);
}

// MARK: Visibility and drawing

void View::setHidden(bool hidden) {
    if (hidden == hidden_) return;
    hidden_ = hidden;
    if (hidden && window_) window_->viewWillLeaveWindow(this); // gives up focus
    if (layer_) layer_->setHidden(hidden);
    constraintLayoutChanged(); // a stack view detaches its hidden views
    if (superview_) superview_->setNeedsDisplay(true);
    setNeedsDisplay(true);
}

bool View::isHiddenOrHasHiddenAncestor() const {
    for (const View* v = this; v; v = v->superview_) {
        if (v->hidden_) return true;
    }
    return false;
}

void View::setAlphaValue(double alpha) {
    alpha_ = std::clamp(alpha, 0.0, 1.0);
    if (layer_) layer_->setOpacity(alpha_);
    setNeedsDisplay(true);
}

void View::setWantsLayer(bool wants) {
    wantsLayer_ = wants;
    if (wants && !layer_) {
        layer_ = Layer::create();
        updateLayerGeometry();
    }
    if (!wants) layer_.reset();
}

void View::updateLayerGeometry() {
    if (!layer_) return;
    // A view's layer follows it without animating, as layer-backed views do.
    Transaction::begin();
    Transaction::setDisableActions(true);
    layer_->setBounds({{0, 0}, frame_.size});
    layer_->setPosition({frame_.size.width / 2, frame_.size.height / 2});
    Transaction::commit();
}

void View::setNeedsLayout(bool needs) { needsLayout_ = needs; }

// MARK: Constraint-based layout

void View::invalidateIntrinsicContentSize() {
    setNeedsLayout(true);
    constraintLayoutChanged();
}

void View::constraintLayoutChanged() const {
    if (window_) window_->setNeedsConstraintLayout();
}

void View::dropConstraintsCrossingCut() {
    // Constraints installed on this subtree relate only views inside it; those of the
    // ancestors that reach into it lose one end.
    const auto inside = [this](const View* view) { return view && view->isDescendantOf(this); };
    for (View* ancestor = superview_; ancestor; ancestor = ancestor->superview_) {
        auto& list = ancestor->constraints_;
        const auto cut = std::stable_partition(list.begin(), list.end(), [&](const auto& constraint) {
            return !inside(constraint->firstItem()) && !inside(constraint->secondItem());
        });
        for (auto it = cut; it != list.end(); ++it) (*it)->installedOn_ = nullptr;
        list.erase(cut, list.end());
    }
}

AutoresizingShares autoresizingShares(unsigned mask, const Rect& frame, Size superviewSize) {
    const auto shares = [](bool minFlexible, bool sizeFlexible, bool maxFlexible, double minMargin, double size,
                           double maxMargin) -> std::pair<double, double> {
        const int flexible = int(minFlexible) + int(sizeFlexible) + int(maxFlexible);
        if (flexible == 0) return {0, 0};
        const double total = (minFlexible ? minMargin : 0) + (sizeFlexible ? size : 0) + (maxFlexible ? maxMargin : 0);
        if (total <= 0) return {minFlexible ? 1.0 / flexible : 0, sizeFlexible ? 1.0 / flexible : 0};
        return {minFlexible ? minMargin / total : 0, sizeFlexible ? size / total : 0};
    };
    const auto [minX, width] =
        shares(mask & autoresizingMinXMargin, mask & autoresizingWidthSizable, mask & autoresizingMaxXMargin,
               frame.origin.x, frame.size.width, superviewSize.width - frame.origin.x - frame.size.width);
    const auto [minY, height] =
        shares(mask & autoresizingMinYMargin, mask & autoresizingHeightSizable, mask & autoresizingMaxYMargin,
               frame.origin.y, frame.size.height, superviewSize.height - frame.origin.y - frame.size.height);
    return {minX, width, minY, height};
}

void View::resizeSubviews(Size oldSize) {
    const double dw = frame_.size.width - oldSize.width;
    const double dh = frame_.size.height - oldSize.height;
    for (const auto& view : subviews_) {
        const unsigned mask = view->autoresizingMask_;
        if (!view->translatesAutoresizingMask_ || mask == autoresizingNone) continue;
        // Margins are measured in the bounds, whose origin may be scrolled.
        const Rect inBounds = view->frame_.offsetBy(-boundsOrigin_.x, -boundsOrigin_.y);
        const auto s = autoresizingShares(mask, inBounds, oldSize);
        const Rect& f = view->frame_;
        view->setFrame({f.origin.x + s.minX * dw, f.origin.y + s.minY * dh, f.size.width + s.width * dw,
                        f.size.height + s.height * dh});
    }
}

namespace {
double clampedPriority(double priority) { return std::clamp(priority, 1.0, LayoutPriority::required); }
} // namespace

double View::contentHuggingPriority(LayoutAxis axis) const { return hugging_[int(axis)]; }

void View::setContentHuggingPriority(double priority, LayoutAxis axis) {
    hugging_[int(axis)] = clampedPriority(priority);
    constraintLayoutChanged();
}

double View::contentCompressionResistancePriority(LayoutAxis axis) const { return compression_[int(axis)]; }

void View::setContentCompressionResistancePriority(double priority, LayoutAxis axis) {
    compression_[int(axis)] = clampedPriority(priority);
    constraintLayoutChanged();
}

void View::setTranslatesAutoresizingMaskIntoConstraints(bool translates) {
    translatesAutoresizingMask_ = translates;
    constraintLayoutChanged();
}

void View::setAutoresizingMask(unsigned mask) {
    autoresizingMask_ = mask;
    constraintLayoutChanged();
}

void View::layoutSubtreeIfNeeded() {
    if (needsLayout_) {
        needsLayout_ = false;
        layout();
    }
    // A copy: layout of a subview may change the tree.
    const auto views = subviews_;
    for (const auto& view : views) view->layoutSubtreeIfNeeded();
}

void View::setNeedsDisplay(bool needs) { needsDisplay_ = needs; }

bool View::subtreeNeedsDisplay() const {
    if (hidden_) return false;
    if (needsDisplay_) return true;
    return std::any_of(subviews_.begin(), subviews_.end(), [](const auto& v) { return v->subtreeNeedsDisplay(); });
}

void View::draw(GraphicsContext&, const Rect&) {}

void View::displayRecursively(GraphicsContext& context) {
    needsDisplay_ = false;
    std::optional<DrawingAppearanceScope> scope;
    if (appearance_) scope.emplace(DrawingAppearance{*appearance_, DrawingAppearanceScope::current().increaseContrast});
    context.saveGState();
    context.clip(Path::rect(bounds()));
    if (layer_) layer_->render(context);
    draw(context, bounds());
    for (const auto& view : subviews_) {
        if (view->hidden_ || view->alpha_ <= 0) {
            view->needsDisplay_ = false;
            continue;
        }
        context.saveGState();
        context.concatenate(view->transformToSuperview());
        if (view->alpha_ < 1) context.setAlpha(view->alpha_);
        view->displayRecursively(context);
        context.restoreGState();
    }
    context.restoreGState();
}

void View::drawFocusRingMask(GraphicsContext& context) const {
    context.drawFocusRingMask(Path::rect(focusRingMaskBounds()));
}

// MARK: Appearance

void View::setAppearance(std::optional<Appearance> appearance) {
    if (appearance == appearance_) return;
    appearance_ = appearance;
    effectiveAppearanceDidChange();
}

DrawingAppearance View::effectiveAppearance() const {
    const bool contrast = Workspace::accessibilityDisplayShouldIncreaseContrast();
    for (const View* v = this; v; v = v->superview_) {
        if (v->appearance_) return {*v->appearance_, contrast};
    }
    if (window_) return window_->effectiveAppearance();
    return Application::shared().effectiveAppearance();
}

void View::effectiveAppearanceDidChange() {
    viewDidChangeEffectiveAppearance();
    setNeedsDisplay(true);
    for (const auto& view : subviews_) {
        if (!view->appearance_) view->effectiveAppearanceDidChange();
    }
}

// MARK: Events

View* View::hitTest(Point pointInSuperview) {
    if (hidden_) return nullptr;
    const Point local = transformToSuperview().inverted().apply(pointInSuperview);
    if (!bounds().contains(local)) return nullptr;
    for (auto it = subviews_.rbegin(); it != subviews_.rend(); ++it) {
        if (auto* hit = (*it)->hitTest(local)) return hit;
    }
    return this;
}

Responder* View::nextResponder() const {
    if (superview_) return superview_;
    return window_;
}

bool View::performKeyEquivalent(const KeyEvent& event) {
    const auto views = subviews_; // a handler may change the tree
    for (auto it = views.rbegin(); it != views.rend(); ++it) {
        if (!(*it)->hidden_ && (*it)->performKeyEquivalent(event)) return true;
    }
    return false;
}

// MARK: Key-view loop

bool View::canBecomeKeyView() const {
    return window_ && !isHiddenOrHasHiddenAncestor() && isEnabled() && acceptsFirstResponder();
}

void View::setNextKeyView(View* view) {
    if (auto old = nextKeyView_.lock()) {
        if (old->previousKeyView_.lock().get() == this) old->previousKeyView_.reset();
    }
    nextKeyView_.reset();
    if (!view) return;
    nextKeyView_ = view->sharedView();
    view->previousKeyView_ = sharedView();
}

View* View::nextValidKeyView() const {
    std::set<const View*> visited{this};
    for (View* v = nextKeyView(); v && visited.insert(v).second; v = v->nextKeyView()) {
        if (v->canBecomeKeyView()) return v;
    }
    return nullptr;
}

View* View::previousValidKeyView() const {
    std::set<const View*> visited{this};
    for (View* v = previousKeyView(); v && visited.insert(v).second; v = v->previousKeyView()) {
        if (v->canBecomeKeyView()) return v;
    }
    return nullptr;
}

std::vector<View*> geometryOrder(std::vector<View*> views) {
    struct Placed {
        View* view;
        Rect frame;
    };
    std::vector<Placed> placed;
    for (View* view : views) placed.push_back({view, view->convertRectTo(view->bounds(), nullptr)});
    // Rows top down, each from its first (topmost) view.
    std::stable_sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) {
        return a.frame.maxY() > b.frame.maxY();
    });
    std::vector<View*> ordered;
    for (std::size_t start = 0; start < placed.size();) {
        const Rect& first = placed[start].frame;
        std::size_t end = start + 1;
        // Two views share a row when each one's vertical middle lies within the other (a view
        // that holds others does not gather them into its row).
        const auto sameRow = [&](const Rect& other) {
            return other.midY() >= first.minY() && other.midY() <= first.maxY() && first.midY() >= other.minY() &&
                   first.midY() <= other.maxY();
        };
        while (end < placed.size() && sameRow(placed[end].frame)) ++end;
        std::stable_sort(placed.begin() + std::ptrdiff_t(start), placed.begin() + std::ptrdiff_t(end),
                         [](const Placed& a, const Placed& b) { return a.frame.minX() < b.frame.minX(); });
        for (std::size_t i = start; i < end; ++i) ordered.push_back(placed[i].view);
        start = end;
    }
    return ordered;
}

// MARK: Accessibility

void View::postAccessibilityNotification(const std::string& notification) const {
    appkitstate::recordAccessibilityNotification(
        {accessibilityLabel().empty() ? identifier_ : accessibilityLabel(), notification});
}

} // namespace tarpelix::platform
