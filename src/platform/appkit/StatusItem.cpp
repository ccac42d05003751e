#include "platform/appkit/StatusItem.h"

#include "platform/appkit/TextLayout.h"
#include "platform/desktop/Desktop.h"
#include "platform/foundation/MainThread.h"

#include <algorithm>
#include <cmath>

namespace tarpelix::platform {

namespace {

constexpr double imagePadding = 6;
constexpr double titlePadding = 8;

AttributedString buttonTitle(const std::string& title) {
    return AttributedString(title, {.font = Font::systemFont(13), .foregroundColor = Color::labelColor()});
}

} // namespace

// MARK: StatusBarButton

StatusBarButton::StatusBarButton(StatusItem& item) : item_(item) {
    setAccessibilityElement(true);
    setAccessibilityRole(AccessibilityRole::menuButton);
}

void StatusBarButton::setImage(std::optional<GraphicsImage> image) {
    image_ = std::move(image);
    resize();
}

void StatusBarButton::setTitle(std::string title) {
    title_ = std::move(title);
    resize();
}

void StatusBarButton::performClick() {
    requireMainThread("StatusBarButton::performClick");
    if (auto menu = item_.menu()) menu->popUp();
}

Size StatusBarButton::intrinsicContentSize() const {
    double width = 0;
    if (image_) width = image_->size().width + 2 * imagePadding;
    if (!title_.empty()) {
        width += std::ceil(TextLayout::size(buttonTitle(title_)).width) + 1 + (image_ ? titlePadding : 2 * titlePadding);
    }
    return {width, StatusBar::thickness};
}

void StatusBarButton::resize() {
    const double length = item_.length();
    double width = intrinsicContentSize().width;
    if (length == squareStatusItemLength) width = StatusBar::thickness;
    if (length >= 0) width = length;
    setFrameSize({width, StatusBar::thickness});
    setNeedsDisplay(true);
}

void StatusBarButton::draw(GraphicsContext& g, const Rect&) {
    const Rect b = bounds();
    double x = imagePadding;
    if (image_) {
        const Size size = image_->size();
        if (title_.empty()) x = (b.width() - size.width) / 2;
        image_->draw(g, {x, (b.height() - size.height) / 2, size.width, size.height},
                     image_->isTemplate() ? std::optional(Color::labelColor()) : std::nullopt);
        x += size.width + imagePadding;
    } else {
        x = titlePadding;
    }
    if (!title_.empty()) {
        const AttributedString text = buttonTitle(title_);
        const Size size = TextLayout::size(text);
        const double width = std::ceil(size.width) + 1;
        g.drawText(text, {x, (b.height() - size.height) / 2, width, size.height});
    }
}

std::string StatusBarButton::accessibilityLabel() const {
    const std::string label = View::accessibilityLabel();
    return label.empty() ? title_ : label;
}

// MARK: StatusItem

StatusItem::StatusItem(double length) : length_(length), button_(std::make_shared<StatusBarButton>(*this)) {
    button_->resize();
}

void StatusItem::setMenu(std::shared_ptr<Menu> menu) {
    Desktop::shared().record("status item menu");
    menu_ = std::move(menu);
}

void StatusItem::setLength(double length) {
    length_ = length;
    button_->resize();
}

// MARK: StatusBar

StatusBar& StatusBar::system() {
    requireMainThread("StatusBar");
    static auto* bar = new StatusBar(); // lives as long as the process
    return *bar;
}

std::shared_ptr<StatusItem> StatusBar::statusItem(double length) {
    std::erase_if(items_, [](const auto& item) { return item.expired(); });
    auto item = std::make_shared<StatusItem>(length);
    items_.insert(items_.begin(), item);
    Desktop::shared().record("status item");
    return item;
}

std::vector<std::shared_ptr<StatusItem>> StatusBar::items() const {
    std::vector<std::shared_ptr<StatusItem>> live;
    for (const auto& weak : items_) {
        if (auto item = weak.lock()) live.push_back(std::move(item));
    }
    return live;
}

} // namespace tarpelix::platform
