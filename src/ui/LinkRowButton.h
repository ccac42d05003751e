#pragma once

#include "platform/appkit/Button.h"
#include "platform/appkit/ImageView.h"
#include "platform/appkit/Label.h"
#include "ui/InterfaceIcon.h"

#include <memory>
#include <string>

namespace tarpelix {

// A full-width row that acts as one button: a leading accent-tinted icon, the title, flexible
// space and a trailing image, 48 points high. The row takes keyboard focus with a rounded
// exterior ring, answers clicks anywhere inside it (icon and label included) and, while
// pressed, fills itself faintly with the accent colour. The button carries the title for the
// screen reader; the views inside it are not accessibility elements. Main thread only.
class LinkRowButton : public platform::Button {
public:
    static constexpr double rowHeight = 48;
    static constexpr double cornerRadius = 12;
    static constexpr double contentSpacing = 12;

    // A borderless, momentary-change row titled `title` (also its accessibility label), with
    // no content yet: subclasses call arrange().
    explicit LinkRowButton(const std::string& title);

    // The icon's symbol at `style`, accent-tinted, `side` × `side` points; empty when the
    // system has no such symbol.
    static std::shared_ptr<platform::ImageView> leadingIcon(InterfaceIcon icon, InterfaceIconStyle style, double side);
    // The title in system 13 pt medium.
    static std::shared_ptr<platform::Label> titleLabel(const std::string& title);

    // Lays out icon, title, flexible space and `trailing` in a row `contentSpacing` apart,
    // `sideInset` points from both sides and vertically centred, and makes the row 48 high.
    // Callable from a subclass's constructor: the row's constraints are activated once the
    // button is shared (at the latest when it joins a superview).
    void arrange(const std::shared_ptr<platform::ImageView>& icon, const std::shared_ptr<platform::Label>& title,
                 const std::shared_ptr<platform::View>& trailing, double sideInset);

    // Any point inside the row is the row itself; none outside it.
    platform::View* hitTest(platform::Point pointInSuperview) override;
    // Nothing unless highlighted; then the rounded accent wash (the labels show the title).
    void draw(platform::GraphicsContext& context, const platform::Rect& dirtyRect) override;
    platform::Rect focusRingMaskBounds() const override { return bounds(); }
    void drawFocusRingMask(platform::GraphicsContext& context) const override;

    void viewDidMoveToSuperview() override;
    void updateConstraints() override;

private:
    void activateRowConstraints();

    std::shared_ptr<platform::View> pendingRow_;
    double sideInset_ = 0;
};

} // namespace tarpelix
