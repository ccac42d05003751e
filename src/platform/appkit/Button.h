#pragma once

#include "platform/appkit/Control.h"
#include "platform/appkit/GraphicsImage.h"

#include <memory>
#include <optional>
#include <string>

namespace tarpelix::platform {

// How a button behaves when clicked (the platform's kinds): momentary ones only send their
// action; toggling ones (pushOnPushOff, toggle, onOff) flip their state first; a check box
// (switchButton) flips its box; a radio button turns itself on and its group off.
enum class ButtonType { momentaryLight, pushOnPushOff, toggle, switchButton, radio, momentaryChange, onOff,
                        momentaryPushIn };

// The bezel a bordered button draws: a rounded push button of fixed height, or a rectangle
// with small corners that fills the bounds.
enum class BezelStyle { rounded, regularSquare };

// Where the image goes relative to the title.
enum class ImagePosition { noImage, imageOnly, imageLeft, imageRight, imageLeading, imageTrailing };

// A button drawn by us: a bezel (unless borderless), an image and a title side by side,
// centred. A button whose key equivalent is Return is the default button and is drawn filled
// with the accent colour, as is one given a bezel colour or a toggling one that is on. Check
// boxes and radio buttons draw their indicator before the title. Subclasses may draw their own
// content (`draw`) and focus ring. Main thread only.
class Button : public Control {
public:
    explicit Button(const Rect& frame = {});

    // A rounded push button.
    static std::shared_ptr<Button> withTitle(std::string title, std::string action = {}, ActionHandler handler = {});
    static std::shared_ptr<Button> withImage(GraphicsImage image, std::string action = {}, ActionHandler handler = {});
    static std::shared_ptr<Button> checkbox(std::string title, std::string action = {}, ActionHandler handler = {});
    static std::shared_ptr<Button> radioButton(std::string title, std::string action = {}, ActionHandler handler = {});

    const std::string& title() const { return title_; }
    void setTitle(std::string title);
    const std::optional<GraphicsImage>& image() const { return image_; }
    void setImage(std::optional<GraphicsImage> image);
    ImagePosition imagePosition() const { return imagePosition_; }
    void setImagePosition(ImagePosition position);

    ButtonType buttonType() const { return buttonType_; }
    void setButtonType(ButtonType type);
    BezelStyle bezelStyle() const { return bezelStyle_; }
    void setBezelStyle(BezelStyle style);
    bool isBordered() const { return bordered_; }
    void setBordered(bool bordered);
    // The bezel's fill instead of the control colour (none: the default look).
    const std::optional<Color>& bezelColor() const { return bezelColor_; }
    void setBezelColor(std::optional<Color> color);
    // The colour of a borderless button's title and template image.
    const std::optional<Color>& contentTintColor() const { return contentTintColor_; }
    void setContentTintColor(std::optional<Color> color);

    ControlStateValue state() const { return state_; }
    void setState(ControlStateValue state);

    // The characters (ignoring modifiers) that click the button, with exactly these modifiers
    // of Shift, Control, Option and Command. "\r" (Return) makes the default button.
    const std::string& keyEquivalent() const { return keyEquivalent_; }
    void setKeyEquivalent(std::string characters);
    EventFlags keyEquivalentModifierMask() const { return keyEquivalentModifiers_; }
    void setKeyEquivalentModifierMask(EventFlags flags) { keyEquivalentModifiers_ = flags; }
    bool isDefaultButton() const { return keyEquivalent_ == "\r"; }

    // Acts as a click: the state changes as the type says, a radio button's group turns off,
    // then the action is sent. A disabled button does nothing.
    void performClick() override;
    bool performKeyEquivalent(const KeyEvent& event) override;

    Size intrinsicContentSize() const override;
    double firstBaselineOffsetFromTop() const override;
    void draw(GraphicsContext& context, const Rect& dirtyRect) override;
    // The bezel, or the indicator of a check box or radio button; the bounds when borderless.
    Rect focusRingMaskBounds() const override;
    void drawFocusRingMask(GraphicsContext& context) const override;

    AccessibilityRole accessibilityRole() const override;
    // The label set, else the title, else the image's description.
    std::string accessibilityLabel() const override;
    std::optional<std::string> accessibilityValue() const override;

private:
    bool hasIndicator() const { return buttonType_ == ButtonType::switchButton || buttonType_ == ButtonType::radio; }
    bool togglesState() const;
    bool showsImage() const { return image_ && imagePosition_ != ImagePosition::noImage; }
    bool showsTitle() const { return !title_.empty() && imagePosition_ != ImagePosition::imageOnly; }
    bool isFilled() const;
    Rect bezelRect() const;
    Rect indicatorRect() const;
    Path focusPath() const;
    Size contentSize() const;
    Color contentColor() const;
    void drawBezel(GraphicsContext& context) const;
    void drawIndicator(GraphicsContext& context) const;
    void drawContent(GraphicsContext& context, const Rect& area) const;

    std::string title_;
    std::optional<GraphicsImage> image_;
    ImagePosition imagePosition_ = ImagePosition::noImage;
    ButtonType buttonType_ = ButtonType::momentaryPushIn;
    BezelStyle bezelStyle_ = BezelStyle::rounded;
    bool bordered_ = true;
    std::optional<Color> bezelColor_;
    std::optional<Color> contentTintColor_;
    ControlStateValue state_ = ControlStateValue::off;
    std::string keyEquivalent_;
    EventFlags keyEquivalentModifiers_ = 0;
};

} // namespace tarpelix::platform
