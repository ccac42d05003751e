#pragma once

#include "platform/appkit/AttributedString.h"
#include "platform/appkit/View.h"

#include <memory>
#include <string>

namespace tarpelix::platform {

// Static text: a plain or attributed value drawn from the top of the label in its font,
// colour and alignment. A label wraps when its line break mode wraps (by words or characters);
// a wrapping label with a line limit cuts its text to that many lines, ending the last one in
// "…". A label that does not wrap keeps each paragraph to one line, clipped or truncated as its
// line break mode says. Attributes the value sets itself win over the
// label's. Main thread only.
class Label : public View {
public:
    explicit Label(std::string text = {});

    // One line, clipped at the label's width, not selectable.
    static std::shared_ptr<Label> labelWithString(std::string text);
    // Wrapped at word boundaries with no line limit, selectable.
    static std::shared_ptr<Label> wrappingLabelWithString(std::string text);
    static std::shared_ptr<Label> labelWithAttributedString(AttributedString text);

    std::string stringValue() const { return value_.string(); }
    void setStringValue(std::string text);
    const AttributedString& attributedStringValue() const { return value_; }
    void setAttributedStringValue(AttributedString text);

    const Font& font() const { return font_; }
    void setFont(Font font);
    const Color& textColor() const { return textColor_; }
    void setTextColor(Color color);
    TextAlignment alignment() const { return alignment_; }
    void setAlignment(TextAlignment alignment);
    LineBreakMode lineBreakMode() const { return lineBreakMode_; }
    void setLineBreakMode(LineBreakMode mode);
    // The most lines shown; 0 is no limit.
    int maximumNumberOfLines() const { return maximumNumberOfLines_; }
    void setMaximumNumberOfLines(int lines);
    // Whether the user may select the text to copy it; selectable text still takes no Tab stop.
    bool isSelectable() const { return selectable_; }
    void setSelectable(bool selectable) { selectable_ = selectable; }
    // The width a wrapping label reports as its intrinsic width at most (0: none, so the width
    // comes from the layout and the height from heightForWidth).
    double preferredMaxLayoutWidth() const { return preferredMaxLayoutWidth_; }
    void setPreferredMaxLayoutWidth(double width);

    bool wraps() const;
    // The value with the label's attributes, laid out at `width`: cut to the line limit.
    AttributedString displayedString(double width) const;
    // Whether the text as drawn in the bounds lost characters to an ellipsis.
    bool isTruncated() const;

    Size intrinsicContentSize() const override;
    double heightForWidth(double width) const override;
    double firstBaselineOffsetFromTop() const override;
    void draw(GraphicsContext& context, const Rect& dirtyRect) override;

    std::optional<std::string> accessibilityValue() const override;

private:
    AttributedString styled() const;
    void changed();

    AttributedString value_;
    Font font_ = Font::systemFont(13);
    Color textColor_ = Color::labelColor();
    TextAlignment alignment_ = TextAlignment::natural;
    LineBreakMode lineBreakMode_ = LineBreakMode::byClipping;
    int maximumNumberOfLines_ = 0;
    bool selectable_ = false;
    double preferredMaxLayoutWidth_ = 0;
};

} // namespace tarpelix::platform
