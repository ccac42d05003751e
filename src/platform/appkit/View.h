#pragma once

#include "platform/appkit/Color.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/appkit/LayoutAnchor.h"
#include "platform/appkit/Responder.h"
#include "platform/foundation/Geometry.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarpelix::platform {

class Layer;
class Window;

// What a screen reader calls an element; `none` is no role of its own (a plain view).
enum class AccessibilityRole {
    none, group, staticText, heading, button, checkBox, radioButton, switchControl, popUpButton, menuButton,
    link, image, textField, textArea, table, row, cell, scrollArea, progressIndicator, disclosureTriangle,
    slider, tabGroup, window
};

// The words a screen reader speaks after an element of that role ("button"); none for plain
// text and roles of no words.
std::string accessibilityRoleDescription(AccessibilityRole role);

enum class FocusRingType { defaultType, none, exterior };

// A direction of layout: x (horizontal) or y (vertical).
enum class LayoutAxis { horizontal, vertical };

// Priorities of layout constraints (1 to 1000; 1000 is required).
namespace LayoutPriority {
inline constexpr double required = 1000;
inline constexpr double defaultHigh = 750;
inline constexpr double windowSizeStayPut = 500;
inline constexpr double defaultLow = 250;
inline constexpr double fittingSizeCompression = 50;
} // namespace LayoutPriority

// Which edges and sizes of a view follow its superview's size when it changes, for a view
// whose frame is turned into constraints.
enum AutoresizingMask : unsigned {
    autoresizingNone = 0,
    autoresizingMinXMargin = 1,
    autoresizingWidthSizable = 2,
    autoresizingMaxXMargin = 4,
    autoresizingMinYMargin = 8,
    autoresizingHeightSizable = 16,
    autoresizingMaxYMargin = 32,
};

class ViewConstraint;

// Where a view goes among its siblings when added relative to another (above is in front).
enum class WindowOrderingMode { below, above };

// A rectangle of a window: a frame in its superview's coordinates, bounds of its own, and
// subviews it owns and draws over itself. Coordinates have y up unless the view is flipped.
// Layout is frame based: `layout()` runs for a view that needs layout before it is drawn.
// Views are shared (std::make_shared) so that windows and responders can refer to them weakly.
// Main thread only.
class View : public Responder {
public:
    explicit View(const Rect& frame = {});
    ~View() override;

    static std::shared_ptr<View> create(const Rect& frame = {}) { return std::make_shared<View>(frame); }

    // MARK: The tree
    View* superview() const { return superview_; }
    const std::vector<std::shared_ptr<View>>& subviews() const { return subviews_; }
    // Adds the view in front of the other subviews (taking it from its previous superview).
    void addSubview(std::shared_ptr<View> view);
    // Adds it just above or below `relativeTo` (the front or the back when that is not a subview).
    void addSubview(std::shared_ptr<View> view, WindowOrderingMode place, const View* relativeTo);
    // Inserts it at `index` among the subviews (back to front), clamped to their count.
    void insertSubview(std::shared_ptr<View> view, std::size_t index);
    void removeFromSuperview();
    bool isDescendantOf(const View* view) const;
    // This view and its descendants that match, depth first, leaving out hidden subtrees.
    std::vector<View*> visibleViews(const std::function<bool(const View&)>& matching);
    Window* window() const { return window_; }
    // The first view of this subtree (this one included) with the identifier, depth first.
    View* viewWithIdentifier(const std::string& identifier);

    // Told around changes of the tree.
    virtual void viewDidMoveToSuperview() {}
    virtual void viewDidMoveToWindow() {}
    virtual void didAddSubview(View*) {}
    virtual void willRemoveSubview(View*) {}

    // MARK: Geometry
    Rect frame() const { return frame_; }
    void setFrame(const Rect& frame);
    void setFrameOrigin(Point origin) { setFrame({origin, frame_.size}); }
    void setFrameSize(Size size) { setFrame({frame_.origin, size}); }
    // The view's own coordinates: the origin may move (scrolling); the size is the frame's.
    Rect bounds() const { return {boundsOrigin_, frame_.size}; }
    void setBoundsOrigin(Point origin);
    virtual bool isFlipped() const { return false; }

    // Converts between this view's coordinates and another's in the same window (nullptr: the
    // window's base coordinates).
    Point convertPoint(Point point, const View* from) const;
    Point convertPointTo(Point point, const View* to) const;
    Rect convertRect(const Rect& rect, const View* from) const;
    Rect convertRectTo(const Rect& rect, const View* to) const;
    // Maps this view's coordinates to its superview's, and to the window's base coordinates.
    AffineTransform transformToSuperview() const;
    AffineTransform transformToWindow() const;

    // MARK: Visibility and drawing
    bool isHidden() const { return hidden_; }
    void setHidden(bool hidden);
    bool isHiddenOrHasHiddenAncestor() const;
    double alphaValue() const { return alpha_; }
    void setAlphaValue(double alpha);
    bool wantsLayer() const { return wantsLayer_; }
    void setWantsLayer(bool wants);
    // The backing layer while the view wants one: it follows the bounds and is drawn under
    // the view's own drawing.
    const std::shared_ptr<Layer>& layer() const { return layer_; }
    virtual bool isOpaque() const { return false; }

    bool needsLayout() const { return needsLayout_; }
    void setNeedsLayout(bool needs);
    // Lays out this view (if needed) and then its subviews, top down.
    void layoutSubtreeIfNeeded();
    // Arranges the subviews; the default does nothing (frames are set by their owners).
    virtual void layout() {}

    // The size the content wants; either dimension may be `noIntrinsicMetric` (the default for
    // both). A control whose wanted size changes calls invalidateIntrinsicContentSize().
    static constexpr double noIntrinsicMetric = -1;
    virtual Size intrinsicContentSize() const { return {noIntrinsicMetric, noIntrinsicMetric}; }
    void invalidateIntrinsicContentSize();

    // MARK: Constraint-based layout
    // How strongly the view keeps to its intrinsic size: hugging resists growing beyond it
    // (default 250), compression resistance resists shrinking below it (default 750).
    double contentHuggingPriority(LayoutAxis axis) const;
    void setContentHuggingPriority(double priority, LayoutAxis axis);
    double contentCompressionResistancePriority(LayoutAxis axis) const;
    void setContentCompressionResistancePriority(double priority, LayoutAxis axis);
    // The height the content needs at the width, for content that wraps; noIntrinsicMetric
    // (the default) for content whose height does not depend on its width.
    virtual double heightForWidth(double /*width*/) const { return noIntrinsicMetric; }
    // The distance from the top edge to the first line's baseline; noIntrinsicMetric (the
    // default) when the view has no text: the first-baseline anchor is then the bottom edge.
    virtual double firstBaselineOffsetFromTop() const { return noIntrinsicMetric; }
    // Whether the layout pins the frame as set (following the autoresizing mask when the
    // superview's size changes). On by default; a view placed by constraints turns it off.
    bool translatesAutoresizingMaskIntoConstraints() const { return translatesAutoresizingMask_; }
    void setTranslatesAutoresizingMaskIntoConstraints(bool translates);
    unsigned autoresizingMask() const { return autoresizingMask_; }
    void setAutoresizingMask(unsigned mask);
    // The active constraints installed on this view (their nearest common ancestor).
    const std::vector<std::shared_ptr<ViewConstraint>>& constraints() const { return constraints_; }
    // Called on every view of a window before its constraints are solved; a view that makes
    // constraints of its own (a stack view) brings them up to date here.
    virtual void updateConstraints() {}

    XAxisAnchor leadingAnchor() { return {this, LayoutAttribute::leading}; }
    XAxisAnchor trailingAnchor() { return {this, LayoutAttribute::trailing}; }
    XAxisAnchor leftAnchor() { return {this, LayoutAttribute::left}; }
    XAxisAnchor rightAnchor() { return {this, LayoutAttribute::right}; }
    XAxisAnchor centerXAnchor() { return {this, LayoutAttribute::centerX}; }
    YAxisAnchor topAnchor() { return {this, LayoutAttribute::top}; }
    YAxisAnchor bottomAnchor() { return {this, LayoutAttribute::bottom}; }
    YAxisAnchor centerYAnchor() { return {this, LayoutAttribute::centerY}; }
    YAxisAnchor firstBaselineAnchor() { return {this, LayoutAttribute::firstBaseline}; }
    DimensionAnchor widthAnchor() { return {this, LayoutAttribute::width}; }
    DimensionAnchor heightAnchor() { return {this, LayoutAttribute::height}; }

    bool needsDisplay() const { return needsDisplay_; }
    void setNeedsDisplay(bool needs);
    // True when this view or a visible descendant needs display.
    bool subtreeNeedsDisplay() const;
    // Draws the view's content in its own coordinates; the default draws nothing.
    virtual void draw(GraphicsContext& context, const Rect& dirtyRect);
    // Draws the view and its visible subviews into the context, whose coordinates are this
    // view's, and clears their needs-display flags.
    void displayRecursively(GraphicsContext& context);

    // MARK: Appearance
    std::optional<Appearance> appearance() const { return appearance_; }
    void setAppearance(std::optional<Appearance> appearance);
    // The view's own appearance, else its superview's, window's or the application's, else
    // the desktop's; with the desktop's Increase Contrast setting.
    DrawingAppearance effectiveAppearance() const;
    // Told when the effective appearance may have changed; the default does nothing.
    virtual void viewDidChangeEffectiveAppearance() {}
    // Tells this view and every descendant that does not set an appearance of its own.
    void effectiveAppearanceDidChange();

    // MARK: Events
    // The deepest visible view under the point (in the superview's coordinates), or none.
    virtual View* hitTest(Point pointInSuperview);
    // Whether a click that activates the window also reaches this view.
    virtual bool acceptsFirstMouse(const MouseEvent&) const { return false; }
    Responder* nextResponder() const override;
    // Offers the key equivalent to the subviews, front to back; true when one handled it.
    bool performKeyEquivalent(const KeyEvent& event) override;
    // Controls override it; a disabled view is left out of the key-view loop.
    virtual bool isEnabled() const { return true; }

    // MARK: Key-view loop
    // A view Tab can move to: shown, enabled, in a window and accepting first responder.
    bool canBecomeKeyView() const;
    View* nextKeyView() const { return nextKeyView_.lock().get(); }
    View* previousKeyView() const { return previousKeyView_.lock().get(); }
    // Sets the explicit loop: Tab from this view goes to `view`.
    void setNextKeyView(View* view);
    // The first view along the explicit loop that can become key; none when the loop returns
    // here or cycles without one.
    View* nextValidKeyView() const;
    View* previousValidKeyView() const;

    FocusRingType focusRingType() const { return focusRingType_; }
    void setFocusRingType(FocusRingType type) { focusRingType_ = type; }
    // The shape the focus ring surrounds while the view is first responder.
    virtual Rect focusRingMaskBounds() const { return bounds(); }
    virtual void drawFocusRingMask(GraphicsContext& context) const;

    // MARK: Identity
    const std::string& identifier() const { return identifier_; }
    void setIdentifier(std::string identifier) { identifier_ = std::move(identifier); }
    const std::string& toolTip() const { return toolTip_; }
    void setToolTip(std::string toolTip) { toolTip_ = std::move(toolTip); }

    // MARK: Accessibility
    bool isAccessibilityElement() const { return accessibilityElement_; }
    void setAccessibilityElement(bool element) { accessibilityElement_ = element; }
    virtual AccessibilityRole accessibilityRole() const { return accessibilityRole_; }
    void setAccessibilityRole(AccessibilityRole role) { accessibilityRole_ = role; }
    virtual std::string accessibilityLabel() const { return accessibilityLabel_; }
    void setAccessibilityLabel(std::string label) { accessibilityLabel_ = std::move(label); }
    // The help text; the tool tip when none is set.
    virtual std::string accessibilityHelp() const { return accessibilityHelp_ ? *accessibilityHelp_ : toolTip_; }
    void setAccessibilityHelp(std::optional<std::string> help) { accessibilityHelp_ = std::move(help); }
    virtual std::optional<std::string> accessibilityValue() const { return accessibilityValue_; }
    void setAccessibilityValue(std::optional<std::string> value) { accessibilityValue_ = std::move(value); }
    virtual std::optional<bool> isAccessibilityExpanded() const { return accessibilityExpanded_; }
    void setAccessibilityExpanded(std::optional<bool> expanded) { accessibilityExpanded_ = expanded; }
    // Posts an accessibility notification for this element (recorded on the control surface).
    void postAccessibilityNotification(const std::string& notification) const;

    std::shared_ptr<View> sharedView() { return std::static_pointer_cast<View>(shared_from_this()); }

protected:
    friend class Window;
    // Sets the window of this subtree (the window's own views).
    void setWindow(Window* window);

private:
    void insertAt(std::shared_ptr<View> view, std::size_t index);
    void resizeSubviews(Size oldSize);
    void dropConstraintsCrossingCut();
    void constraintLayoutChanged() const;
    void updateLayerGeometry();

    View* superview_ = nullptr;
    Window* window_ = nullptr;
    std::vector<std::shared_ptr<View>> subviews_;
    Rect frame_;
    Point boundsOrigin_;
    bool hidden_ = false;
    double alpha_ = 1;
    bool wantsLayer_ = false;
    std::shared_ptr<Layer> layer_;
    bool needsLayout_ = true;
    bool needsDisplay_ = true;
    std::optional<Appearance> appearance_;
    std::weak_ptr<View> nextKeyView_;
    std::weak_ptr<View> previousKeyView_;
    FocusRingType focusRingType_ = FocusRingType::defaultType;
    std::string identifier_;
    std::string toolTip_;
    bool accessibilityElement_ = false;
    AccessibilityRole accessibilityRole_ = AccessibilityRole::none;
    std::string accessibilityLabel_;
    std::optional<std::string> accessibilityHelp_;
    std::optional<std::string> accessibilityValue_;
    std::optional<bool> accessibilityExpanded_;
    double hugging_[2] = {LayoutPriority::defaultLow, LayoutPriority::defaultLow};
    double compression_[2] = {LayoutPriority::defaultHigh, LayoutPriority::defaultHigh};
    bool translatesAutoresizingMask_ = true;
    unsigned autoresizingMask_ = autoresizingNone;
    std::vector<std::shared_ptr<ViewConstraint>> constraints_;
    friend class ViewConstraint;
};

// The share of a change of the superview's size that goes to the frame's minimum margin and
// to its size, per axis, for an autoresizing mask: the flexible parts (margins and size) share
// the change in proportion to their lengths at `superviewSize` (equally when all are zero).
struct AutoresizingShares {
    double minX = 0, width = 0, minY = 0, height = 0;
};
AutoresizingShares autoresizingShares(unsigned mask, const Rect& frameInBounds, Size superviewSize);

// The views in reading and Tab order: rows top down (views share a row when each one's
// vertical middle lies within the other), each row leading to trailing.
std::vector<View*> geometryOrder(std::vector<View*> views);

} // namespace tarpelix::platform
