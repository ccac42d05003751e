#pragma once

#include "platform/appkit/View.h"
#include "platform/appkit/Window.h"

namespace tarpelix::platform {

// A round button of the title bar (close or miniaturise), drawn by us: red or yellow when
// enabled, grey when not. A click inside it acts on its window when the mouse goes up.
class WindowButton final : public View {
public:
    static constexpr double diameter = 12;

    explicit WindowButton(WindowButtonKind kind);

    WindowButtonKind kind() const { return kind_; }
    bool isEnabled() const override { return enabled_; }
    void setEnabled(bool enabled);
    // Acts as a click would.
    void performClick();

    void draw(GraphicsContext& context, const Rect& dirtyRect) override;
    void mouseDown(const MouseEvent& event) override;
    void mouseUp(const MouseEvent& event) override;
    // Clicking a window button of an inactive window works at once.
    bool acceptsFirstMouse(const MouseEvent&) const override { return true; }

private:
    WindowButtonKind kind_;
    bool enabled_ = true;
    bool tracking_ = false;
};

// The window's title bar: its buttons at the leading end, the title centred, a separator
// along the bottom.
class TitleBarView final : public View {
public:
    static constexpr double buttonInset = 8;   // from the leading edge to the first button
    static constexpr double buttonSpacing = 8; // between the buttons
    static constexpr double titleInset = 64;   // the title keeps clear of the buttons, both sides

    TitleBarView();
    WindowButton& closeButton() const { return *close_; }
    WindowButton& miniaturizeButton() const { return *miniaturize_; }
    // Where the title is drawn, in the bar's coordinates.
    Rect titleRect() const;

    void layout() override;
    void draw(GraphicsContext& context, const Rect& dirtyRect) override;

private:
    std::shared_ptr<WindowButton> close_;
    std::shared_ptr<WindowButton> miniaturize_;
};

} // namespace tarpelix::platform
