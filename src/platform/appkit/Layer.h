#pragma once

#include "platform/appkit/Color.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/appkit/Path.h"
#include "platform/foundation/Geometry.h"

#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tarpelix::platform {

// A value an animation runs between; monostate is no value.
using AnimationValue = std::variant<std::monostate, double, Point, Rect, AffineTransform, Color, Path>;

// An animation of one key path from one value to another. The layer keeps its model value;
// animations are recorded, not run.
struct BasicAnimation {
    static constexpr double repeatForever = std::numeric_limits<double>::infinity();

    std::string keyPath;
    AnimationValue fromValue;
    AnimationValue toValue;
    double duration = 0.25;
    double repeatCount = 0;

    bool operator==(const BasicAnimation&) const = default;
};

// The calling thread's animation transaction: explicit ones nest inside begin()/commit();
// without one, an implicit transaction holds the settings until the next flush().
class Transaction {
public:
    static void begin();
    static void commit();
    // True while property changes make no implicit animation.
    static bool disableActions();
    static void setDisableActions(bool disable);
    static double animationDuration();
    static void setAnimationDuration(double seconds);
    // Commits the implicit transaction (its settings go back to the defaults); counted on the
    // control surface.
    static void flush();
};

// A layer: geometry, opacity, background and sublayers, with animations by key. Changing an
// animatable property adds an implicit animation of it (under the property's name) unless the
// transaction disables actions.
class Layer : public std::enable_shared_from_this<Layer> {
public:
    static std::shared_ptr<Layer> create() { return std::shared_ptr<Layer>(new Layer()); }
    virtual ~Layer() = default;
    Layer(const Layer&) = delete;
    Layer& operator=(const Layer&) = delete;

    Rect bounds() const { return bounds_; }
    void setBounds(const Rect& bounds);
    Point position() const { return position_; }
    void setPosition(Point position);
    Point anchorPoint() const { return anchorPoint_; }
    void setAnchorPoint(Point anchorPoint) { anchorPoint_ = anchorPoint; }
    AffineTransform transform() const { return transform_; }
    void setTransform(const AffineTransform& transform);
    double opacity() const { return opacity_; }
    void setOpacity(double opacity);
    bool isHidden() const { return hidden_; }
    void setHidden(bool hidden) { hidden_ = hidden; }
    std::optional<Color> backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(std::optional<Color> color);

    const std::vector<std::shared_ptr<Layer>>& sublayers() const { return sublayers_; }
    std::shared_ptr<Layer> superlayer() const { return superlayer_.lock(); }
    void addSublayer(std::shared_ptr<Layer> layer);
    void removeFromSuperlayer();

    // Adds the animation under `key`; an animation already under that key is replaced.
    void addAnimation(const BasicAnimation& animation, const std::string& key);
    void removeAnimation(const std::string& key);
    void removeAllAnimations() { animations_.clear(); }
    std::optional<BasicAnimation> animation(const std::string& key) const;
    std::vector<std::string> animationKeys() const;

    // Draws the layer and its sublayers at their model values into the context, in the
    // coordinates of the superlayer (or of the context for this layer).
    void render(GraphicsContext& context) const;

protected:
    Layer() = default;
    // Adds the implicit animation for a property change unless actions are disabled.
    void changed(const std::string& keyPath, AnimationValue from, AnimationValue to);
    virtual void drawContents(GraphicsContext& context) const;

private:
    void render(GraphicsContext& context, double inheritedAlpha) const;
    Rect bounds_;
    Point position_;
    Point anchorPoint_{0.5, 0.5};
    AffineTransform transform_;
    double opacity_ = 1;
    bool hidden_ = false;
    std::optional<Color> backgroundColor_;
    std::vector<std::shared_ptr<Layer>> sublayers_;
    std::weak_ptr<Layer> superlayer_;
    std::vector<std::pair<std::string, BasicAnimation>> animations_;
};

// A layer that draws a path: filled (black unless set otherwise) and stroked (when a stroke
// colour is set) between the stroke start and end fractions.
class ShapeLayer final : public Layer {
public:
    static std::shared_ptr<ShapeLayer> create() { return std::shared_ptr<ShapeLayer>(new ShapeLayer()); }

    const Path& path() const { return path_; }
    void setPath(const Path& path);
    std::optional<Color> fillColor() const { return fillColor_; }
    void setFillColor(std::optional<Color> color);
    std::optional<Color> strokeColor() const { return strokeColor_; }
    void setStrokeColor(std::optional<Color> color);
    double lineWidth() const { return lineWidth_; }
    void setLineWidth(double width);
    LineCap lineCap() const { return lineCap_; }
    void setLineCap(LineCap cap) { lineCap_ = cap; }
    double strokeStart() const { return strokeStart_; }
    void setStrokeStart(double fraction);
    double strokeEnd() const { return strokeEnd_; }
    void setStrokeEnd(double fraction);

private:
    ShapeLayer() = default;
    void drawContents(GraphicsContext& context) const override;
    Path path_;
    std::optional<Color> fillColor_ = Color::black();
    std::optional<Color> strokeColor_;
    double lineWidth_ = 1;
    LineCap lineCap_ = LineCap::butt;
    double strokeStart_ = 0;
    double strokeEnd_ = 1;
};

} // namespace tarpelix::platform
