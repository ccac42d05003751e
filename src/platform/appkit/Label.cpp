#include "platform/appkit/Label.h"

#include "platform/appkit/TextLayout.h"

#include <cmath>

namespace tarpelix::platform {

namespace {

bool isWrappingMode(LineBreakMode mode) {
    return mode == LineBreakMode::byWordWrapping || mode == LineBreakMode::byCharWrapping;
}

bool isTruncatingMode(LineBreakMode mode) {
    return mode == LineBreakMode::byTruncatingHead || mode == LineBreakMode::byTruncatingMiddle ||
           mode == LineBreakMode::byTruncatingTail;
}

// The first `length` UTF-16 units of the text with their attributes, trailing spaces left out,
// followed by "…" in the attributes of the last character kept.
AttributedString cutWithEllipsis(const AttributedString& text, std::size_t length) {
    std::string prefix = text.string().substr(0, text.utf8Offset(length));
    while (!prefix.empty() && (prefix.back() == ' ' || prefix.back() == '\n')) prefix.pop_back();
    AttributedString cut(prefix);
    for (const auto& run : text.runs()) {
        if (run.range.location >= cut.length()) break;
        cut.setAttributes(run.attributes, {run.range.location, std::min(run.range.end(), cut.length()) - run.range.location});
    }
    const std::size_t last = cut.length() > 0 ? cut.length() - 1 : 0;
    cut.append(AttributedString("…", text.length() > 0 ? text.attributes(last) : TextAttributes{}));
    return cut;
}

// The height of `lines` lines in the attributes the text starts with.
double heightOfLines(const AttributedString& text, int lines) {
    std::string sample = "X";
    for (int i = 1; i < lines; ++i) sample += "\u2028X"; // line separators: one paragraph
    return TextLayout::size(AttributedString(sample, text.length() > 0 ? text.attributes(0) : TextAttributes{})).height;
}

} // namespace

Label::Label(std::string text) : value_(text) {
    setAccessibilityElement(true);
    setAccessibilityRole(AccessibilityRole::staticText);
}

std::shared_ptr<Label> Label::labelWithString(std::string text) {
    auto label = std::make_shared<Label>(std::move(text));
    label->maximumNumberOfLines_ = 1;
    return label;
}

std::shared_ptr<Label> Label::wrappingLabelWithString(std::string text) {
    auto label = std::make_shared<Label>(std::move(text));
    label->lineBreakMode_ = LineBreakMode::byWordWrapping;
    label->selectable_ = true;
    return label;
}

std::shared_ptr<Label> Label::labelWithAttributedString(AttributedString text) {
    auto label = std::make_shared<Label>();
    label->value_ = std::move(text);
    label->maximumNumberOfLines_ = 1;
    return label;
}

void Label::setStringValue(std::string text) {
    value_ = AttributedString(text);
    changed();
}

void Label::setAttributedStringValue(AttributedString text) {
    value_ = std::move(text);
    changed();
}

void Label::setFont(Font font) {
    font_ = std::move(font);
    changed();
}

void Label::setTextColor(Color color) {
    textColor_ = std::move(color);
    setNeedsDisplay(true);
}

void Label::setAlignment(TextAlignment alignment) {
    alignment_ = alignment;
    setNeedsDisplay(true);
}

void Label::setLineBreakMode(LineBreakMode mode) {
    lineBreakMode_ = mode;
    changed();
}

void Label::setMaximumNumberOfLines(int lines) {
    maximumNumberOfLines_ = std::max(0, lines);
    changed();
}

void Label::setPreferredMaxLayoutWidth(double width) {
    preferredMaxLayoutWidth_ = std::max(0.0, width);
    changed();
}

void Label::changed() {
    invalidateIntrinsicContentSize();
    setNeedsDisplay(true);
}

bool Label::wraps() const { return isWrappingMode(lineBreakMode_); }

AttributedString Label::styled() const {
    AttributedString text = value_;
    // A label that does not wrap keeps each paragraph to one line: truncated or clipped.
    LineBreakMode mode = lineBreakMode_;
    if (!wraps() && !isTruncatingMode(mode)) mode = LineBreakMode::byClipping;
    const auto runs = value_.runs();
    for (const auto& run : runs) {
        TextAttributes attributes = run.attributes;
        if (!attributes.font) attributes.font = font_;
        if (!attributes.foregroundColor) attributes.foregroundColor = textColor_;
        ParagraphStyle style = attributes.paragraphStyle.value_or(ParagraphStyle{});
        if (!attributes.paragraphStyle || alignment_ != TextAlignment::natural) style.alignment = alignment_;
        style.lineBreakMode = mode;
        attributes.paragraphStyle = style;
        text.setAttributes(attributes, run.range);
    }
    return text;
}

AttributedString Label::displayedString(double width) const {
    AttributedString text = styled();
    if (!wraps() || maximumNumberOfLines_ == 0 || !std::isfinite(width)) return text;
    const double limit = heightOfLines(text, maximumNumberOfLines_) + 0.5;
    if (TextLayout::size(text, width).height <= limit) return text;
    // The longest start of the text that, with "…", stays within the line limit.
    std::size_t fits = 0, tooLong = text.length();
    while (tooLong - fits > 1) {
        const std::size_t middle = (fits + tooLong) / 2;
        if (TextLayout::size(cutWithEllipsis(text, middle), width).height <= limit) {
            fits = middle;
        } else {
            tooLong = middle;
        }
    }
    return cutWithEllipsis(text, fits);
}

bool Label::isTruncated() const {
    const double width = bounds().width();
    const AttributedString shown = displayedString(width);
    return !(shown == styled()) || TextLayout::layout(shown, width).truncated;
}

Size Label::intrinsicContentSize() const {
    if (!wraps()) {
        const Size size = TextLayout::size(value_.length() > 0 ? styled() : AttributedString(" ", {.font = font_}));
        return {value_.length() > 0 ? std::ceil(size.width) : 0, std::ceil(size.height)};
    }
    if (preferredMaxLayoutWidth_ > 0) {
        const double width = std::min(std::ceil(TextLayout::size(styled()).width), preferredMaxLayoutWidth_);
        return {width, heightForWidth(width)};
    }
    const double width = bounds().width();
    return {noIntrinsicMetric, width > 0 ? heightForWidth(width) : noIntrinsicMetric};
}

double Label::heightForWidth(double width) const {
    if (!wraps()) return noIntrinsicMetric;
    if (value_.length() == 0) return std::ceil(TextLayout::size(AttributedString(" ", {.font = font_})).height);
    return std::ceil(TextLayout::size(displayedString(width), width).height);
}

double Label::firstBaselineOffsetFromTop() const {
    const AttributedString text = value_.length() > 0 ? styled() : AttributedString(" ", {.font = font_});
    return TextLayout::layout(text, bounds().width()).firstBaseline;
}

void Label::draw(GraphicsContext& context, const Rect&) {
    if (value_.length() == 0) return;
    const Rect b = bounds();
    const AttributedString shown = displayedString(b.width());
    // From the top; a label shorter than its text gets a box that shows it does not fit.
    const double height = std::min(b.height(), TextLayout::size(shown, wraps() ? b.width() : TextLayout::unlimited).height);
    context.drawText(shown, {b.minX(), b.maxY() - height, b.width(), height});
}

std::optional<std::string> Label::accessibilityValue() const {
    if (auto value = View::accessibilityValue()) return value;
    if (value_.length() == 0) return std::nullopt;
    return value_.string();
}

} // namespace tarpelix::platform
