#pragma once

#include "platform/appkit/GraphicsContext.h"
#include "platform/appkit/TextLayout.h"

#include <variant>
#include <vector>

namespace tarpelix::platform {

// The operations a recording keeps. Colours are stored resolved, as they were drawn; paths are
// in the user space of the moment (the transformations are operations of their own).
namespace drawing {

struct Save {};
struct Restore {};
struct Concatenate {
    AffineTransform transform;
};
struct SetAlpha {
    double alpha = 1;
};
struct Fill {
    Path path;
    RGBA color;
};
struct Stroke {
    Path path;
    RGBA color;
    double lineWidth = 1;
    LineCap cap = LineCap::butt;
    LineJoin join = LineJoin::miter;
};
struct Clip {
    Path path;
};
struct LinearGradient {
    Path path;
    std::vector<std::pair<double, RGBA>> stops;
    double angleDegrees = 0;
};
// One piece of text in its box, with what laying it out at the box's width found.
struct Text {
    AttributedString text; // colours resolved
    Rect box;              // in the user space of the moment
    Rect frame;            // the box in the recording's coordinates (the bounds of its corners)
    TextLayoutResult layout;
    bool fitted = true;    // the laid-out text lies within the box
};
struct Bitmap {
    std::shared_ptr<const Image> image;
    Rect rect;
    std::optional<RGBA> tint;
};
struct FocusRingMask {
    Path path;
    RGBA color; // the focus indicator colour of the moment
};

using Operation = std::variant<Save, Restore, Concatenate, SetAlpha, Fill, Stroke, Clip, LinearGradient, Text,
                               Bitmap, FocusRingMask>;

} // namespace drawing

// A graphics context that keeps what is drawn into it, for tests, the layout audit and the
// renderer. Its coordinates: points from the lower-left corner of a canvas of `size`.
class RecordingContext final : public GraphicsContext {
public:
    explicit RecordingContext(Size size) : size_(size) {}

    Size size() const { return size_; }
    const std::vector<drawing::Operation>& operations() const { return operations_; }
    // The text operations, in drawing order.
    std::vector<drawing::Text> texts() const;

    void saveGState() override;
    void restoreGState() override;
    void concatenate(const AffineTransform& transform) override;
    AffineTransform currentTransform() const override { return state_.transform; }
    void setAlpha(double alpha) override;
    void setLineWidth(double width) override { state_.lineWidth = width; }
    void setLineCap(LineCap cap) override { state_.cap = cap; }
    void setLineJoin(LineJoin join) override { state_.join = join; }
    void fill(const Path& path, const Color& color) override;
    void stroke(const Path& path, const Color& color) override;
    void clip(const Path& path) override;
    void drawLinearGradient(const Path& path, const std::vector<GradientStop>& stops, double angleDegrees) override;
    void drawText(const AttributedString& text, const Rect& box) override;
    void drawBitmap(std::shared_ptr<const Image> bitmap, const Rect& rect, std::optional<Color> tint) override;
    void drawFocusRingMask(const Path& path) override;

private:
    struct State {
        AffineTransform transform;
        double lineWidth = 1;
        LineCap cap = LineCap::butt;
        LineJoin join = LineJoin::miter;
    };
    Size size_;
    State state_;
    std::vector<State> saved_;
    std::vector<drawing::Operation> operations_;
};

// A finding of the layout audit.
struct LayoutIssue {
    enum class Kind { textDoesNotFit, missingGlyphs };
    Kind kind;
    std::string text;
    Rect frame;

    bool operator==(const LayoutIssue&) const = default;
};

// Checks a recording: every text fits its box (truncation the text asks for counts as fitting)
// and no character lacks a glyph.
std::vector<LayoutIssue> auditLayout(const RecordingContext& recording);

} // namespace tarpelix::platform
