#pragma once

#include "platform/appkit/AttributedString.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/Path.h"
#include "platform/foundation/Geometry.h"

#include <memory>
#include <optional>
#include <vector>

namespace tarpelix::platform {

struct Image;
class GraphicsImage;

enum class LineCap { butt, round, square };
enum class LineJoin { miter, round, bevel };

struct GradientStop {
    double location = 0; // 0...1 along the gradient
    Color color;
};

// What views and layers draw into, in points with y up. Colours are resolved against the
// current drawing appearance when drawn. Transformations, alpha, line width, cap and join and
// clips are saved and restored together.
class GraphicsContext {
public:
    virtual ~GraphicsContext() = default;

    virtual void saveGState() = 0;
    virtual void restoreGState() = 0;
    // Later drawing is mapped through `transform` before the current transformation.
    virtual void concatenate(const AffineTransform& transform) = 0;
    virtual AffineTransform currentTransform() const = 0;
    void translate(double dx, double dy) { concatenate(AffineTransform::translation(dx, dy)); }
    void scale(double sx, double sy) { concatenate(AffineTransform::scaling(sx, sy)); }
    void rotate(double radians) { concatenate(AffineTransform::rotation(radians)); }

    // Multiplies everything drawn after it (0...1).
    virtual void setAlpha(double alpha) = 0;
    virtual void setLineWidth(double width) = 0;
    virtual void setLineCap(LineCap cap) = 0;
    virtual void setLineJoin(LineJoin join) = 0;

    virtual void fill(const Path& path, const Color& color) = 0;
    virtual void stroke(const Path& path, const Color& color) = 0;
    // Later drawing is limited to the inside of the path as well.
    virtual void clip(const Path& path) = 0;
    // Fills the path with a linear gradient across its bounds at `angleDegrees`
    // (0: left to right, 90: bottom to top).
    virtual void drawLinearGradient(const Path& path, const std::vector<GradientStop>& stops, double angleDegrees) = 0;
    // The text laid out from the top of `box`, wrapped or truncated at its width.
    virtual void drawText(const AttributedString& text, const Rect& box) = 0;
    // A bitmap scaled into `rect`; with a tint, its alpha is filled with the tint instead.
    virtual void drawBitmap(std::shared_ptr<const Image> bitmap, const Rect& rect, std::optional<Color> tint) = 0;
    // The shape a focus ring is drawn around.
    virtual void drawFocusRingMask(const Path& path) = 0;

    // Draws an image (a bitmap or a vector drawing) into `rect`; a template image is drawn in
    // `tint`, or black without one.
    void drawImage(const GraphicsImage& image, const Rect& rect, std::optional<Color> tint = std::nullopt);
};

} // namespace tarpelix::platform
