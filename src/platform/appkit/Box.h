#pragma once

#include "platform/appkit/View.h"

#include <memory>

namespace tarpelix::platform {

// A separator line, or a custom box drawn in a fill colour with a border and rounded corners
// behind its subviews.
enum class BoxType { custom, separator };

// A box: a separator is a 1-point line across the middle of its bounds, vertical when the box
// is taller than wide, else horizontal; a custom box fills its bounds and strokes its border.
// Not an accessibility element. Main thread only.
class Box final : public View {
public:
    explicit Box(const Rect& frame = {}, BoxType type = BoxType::custom);
    static std::shared_ptr<Box> separator(const Rect& frame = {}) { return std::make_shared<Box>(frame, BoxType::separator); }
    static std::shared_ptr<Box> custom(const Rect& frame = {}) { return std::make_shared<Box>(frame, BoxType::custom); }

    BoxType boxType() const { return type_; }
    void setBoxType(BoxType type);
    bool isVertical() const { return bounds().height() > bounds().width(); }

    const Color& fillColor() const { return fillColor_; }
    void setFillColor(Color color);
    const Color& borderColor() const { return borderColor_; }
    void setBorderColor(Color color);
    double borderWidth() const { return borderWidth_; }
    void setBorderWidth(double width);
    double cornerRadius() const { return cornerRadius_; }
    void setCornerRadius(double radius);

    // A separator is 1 point thick across and has no length of its own.
    Size intrinsicContentSize() const override;
    void draw(GraphicsContext& context, const Rect& dirtyRect) override;

private:
    BoxType type_;
    Color fillColor_ = Color::clear();
    Color borderColor_ = Color::separatorColor();
    double borderWidth_ = 1;
    double cornerRadius_ = 0;
};

} // namespace tarpelix::platform
