#pragma once

#include "platform/appkit/GraphicsImage.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/View.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarpelix::platform {

class StatusItem;

// A status item's length: as wide as its button's content, or square.
inline constexpr double variableStatusItemLength = -1;
inline constexpr double squareStatusItemLength = -2;

// The button of a status item in the menu bar: a template image (drawn in the menu bar's
// text colour) or a title. Clicking it opens the item's menu.
class StatusBarButton final : public View, public ActionSender {
public:
    explicit StatusBarButton(StatusItem& item);

    const std::optional<GraphicsImage>& image() const { return image_; }
    void setImage(std::optional<GraphicsImage> image);
    const std::string& title() const { return title_; }
    void setTitle(std::string title);
    // Acts as a click: opens the item's menu and tracks it (see Menu::popUp).
    void performClick();

    // The width the content needs; the height is the menu bar's.
    Size intrinsicContentSize() const override;
    void draw(GraphicsContext& context, const Rect& dirtyRect) override;
    std::string accessibilityLabel() const override;

private:
    // Sizes the button to its content (or the item's fixed length).
    void resize();
    friend class StatusItem;
    StatusItem& item_;
    std::optional<GraphicsImage> image_;
    std::string title_;
};

// An item of the system status bar: a button and, usually, the menu it opens. It stays in
// the bar while it exists. Main thread only.
class StatusItem final : public std::enable_shared_from_this<StatusItem> {
public:
    explicit StatusItem(double length);
    StatusItem(const StatusItem&) = delete;
    StatusItem& operator=(const StatusItem&) = delete;

    double length() const { return length_; }
    void setLength(double length);
    StatusBarButton& button() const { return *button_; }
    const std::shared_ptr<Menu>& menu() const { return menu_; }
    void setMenu(std::shared_ptr<Menu> menu);

private:
    double length_;
    std::shared_ptr<StatusBarButton> button_;
    std::shared_ptr<Menu> menu_;
};

// The menu bar's area for status items.
class StatusBar {
public:
    static StatusBar& system();
    // The height of the menu bar.
    static constexpr double thickness = 24;

    // A new item at the leading end of the status items.
    std::shared_ptr<StatusItem> statusItem(double length);
    // The items that exist, leading to trailing.
    std::vector<std::shared_ptr<StatusItem>> items() const;

private:
    StatusBar() = default;
    std::vector<std::weak_ptr<StatusItem>> items_;
};

} // namespace tarpelix::platform
