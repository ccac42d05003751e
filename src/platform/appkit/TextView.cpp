#include "platform/appkit/TextView.h"

#include "platform/appkit/Events.h"
#include "platform/appkit/MenuItem.h"
#include "platform/appkit/ScrollView.h"
#include "platform/appkit/Window.h"
#include "platform/desktop/Pasteboard.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace tarpelix::platform {

// MARK: TextContainer

void TextContainer::setSize(Size size) {
    size_ = size;
    owner_.layoutChanged();
}

void TextContainer::setWidthTracksTextView(bool tracks) {
    widthTracks_ = tracks;
    owner_.layoutChanged();
}

void TextContainer::setLineFragmentPadding(double padding) {
    padding_ = std::max(0.0, padding);
    owner_.layoutChanged();
}

// MARK: TextView

TextView::TextView(const Rect& frame) : View(frame) {}

void TextView::setAttributedString(AttributedString text) {
    text_ = std::move(text);
    selection_ = {};
    layoutChanged();
}

void TextView::setString(std::string text) { setAttributedString(AttributedString(text)); }

void TextView::setFont(Font font) {
    font_ = std::move(font);
    layoutChanged();
}

void TextView::setTextColor(Color color) {
    textColor_ = std::move(color);
    setNeedsDisplay(true);
}

void TextView::setSelectable(bool selectable) {
    selectable_ = selectable;
    if (!selectable) selection_ = {};
    setNeedsDisplay(true);
}

void TextView::selectAll() {
    if (!selectable_) return;
    selection_ = {0, text_.length()};
    setNeedsDisplay(true);
}

bool TextView::copySelection() {
    if (selection_.length == 0) return false;
    const std::size_t from = text_.utf8Offset(selection_.location);
    const std::size_t to = text_.utf8Offset(selection_.end());
    auto& pasteboard = Pasteboard::general();
    pasteboard.clearContents();
    return pasteboard.setString(std::string_view(text_.string()).substr(from, to - from), PasteboardType::string);
}

void TextView::setDrawsBackground(bool draws) {
    drawsBackground_ = draws;
    setNeedsDisplay(true);
}

void TextView::setBackgroundColor(Color color) {
    backgroundColor_ = std::move(color);
    setNeedsDisplay(true);
}

void TextView::setTextContainerInset(Size inset) {
    inset_ = inset;
    layoutChanged();
}

void TextView::layoutChanged() {
    setNeedsDisplay(true);
    if (auto* scrollView = enclosingScrollView(*this); scrollView && scrollView->documentView() == this) {
        scrollView->tile();
    }
}

AttributedString TextView::styled() const {
    AttributedString styled = text_;
    for (const auto& run : text_.runs()) {
        TextAttributes defaults;
        if (!run.attributes.font) defaults.font = font_;
        if (!run.attributes.foregroundColor) defaults.foregroundColor = textColor_;
        styled.addAttributes(defaults, run.range);
    }
    return styled;
}

double TextView::layoutWidth() const {
    const double width = container_.widthTracks_ ? bounds().width() - 2 * inset_.width : container_.size_.width;
    if (!std::isfinite(width)) return TextLayout::unlimited;
    return std::max(1.0, width - 2 * container_.padding_);
}

Rect TextView::usedRect() const {
    Size size = TextLayout::size(styled(), layoutWidth());
    if (text_.length() == 0) size = {0, TextLayout::size(AttributedString(" ", {.font = font_})).height};
    return {0, 0, std::ceil(size.width) + 2 * container_.padding_, std::ceil(size.height)};
}

void TextView::fitToVisibleSize(Size visible) {
    // The width first: a tracking container lays out at the view's width.
    double width = visible.width;
    if (!container_.widthTracks_) width = std::max(width, usedRect().width() + 2 * inset_.width);
    setFrameSize({width, frame().height()});
    const double height = std::max(visible.height, usedRect().height() + 2 * inset_.height);
    setFrameSize({width, height});
}

void TextView::draw(GraphicsContext& context, const Rect&) {
    const Rect b = bounds();
    if (drawsBackground_) context.fill(Path::rect(b), backgroundColor_);
    // Text is set in y-up coordinates: undo the flip, so `top` counts down from the top edge.
    context.saveGState();
    context.concatenate({1, 0, 0, -1, 0, b.height()});
    const Rect used = usedRect();
    const double top = b.height() - inset_.height;
    if (selection_.length > 0) {
        const bool active = window() && window()->isKeyWindow() && window()->firstResponder() == this;
        const Color highlight = active ? Color::controlAccentColor().withAlphaComponent(0.3) : Color::quaternaryLabelColor();
        context.fill(Path::rect({inset_.width, top - used.height(), used.width(), used.height()}), highlight);
    }
    const double width = layoutWidth();
    const double boxWidth = std::isfinite(width) ? width : used.width() - 2 * container_.padding_ + 1;
    context.drawText(styled(), {inset_.width + container_.padding_, top - used.height(), boxWidth, used.height()});
    context.restoreGState();
}

void TextView::mouseDown(const MouseEvent&) {
    // A click places the insertion point: the selection goes.
    if (!selectable_) return;
    if (window()) window()->makeFirstResponder(this);
    selection_ = {};
    setNeedsDisplay(true);
}

void TextView::keyDown(const KeyEvent& event) {
    if ((event.modifierFlags & deviceIndependentFlagsMask) == EventFlag::command && selectable_) {
        std::string key = event.charactersIgnoringModifiers.empty() ? event.characters : event.charactersIgnoringModifiers;
        std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return char(std::tolower(c)); });
        if (key == "a") return selectAll();
        if (key == "c" && selection_.length > 0) {
            copySelection();
            return;
        }
    }
    View::keyDown(event);
}

bool TextView::respondsToAction(const std::string& action) const {
    if (selectable_ && (action == StandardAction::copy || action == StandardAction::selectAll)) return true;
    return View::respondsToAction(action);
}

void TextView::performAction(const std::string& action, ActionSender* sender) {
    if (selectable_ && action == StandardAction::copy) {
        copySelection();
    } else if (selectable_ && action == StandardAction::selectAll) {
        selectAll();
    } else {
        View::performAction(action, sender);
    }
}

bool TextView::validateMenuItem(const MenuItem& item) const {
    if (item.action() == StandardAction::copy) return selectable_ && selection_.length > 0;
    if (item.action() == StandardAction::selectAll) return selectable_ && text_.length() > 0;
    return View::validateMenuItem(item);
}

} // namespace tarpelix::platform
