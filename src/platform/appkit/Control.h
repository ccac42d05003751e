#pragma once

#include "platform/appkit/Font.h"
#include "platform/appkit/View.h"

#include <functional>
#include <optional>
#include <string>

namespace tarpelix::platform {

// How large a control is drawn: the regular size, or the small one for dense rows.
enum class ControlSize { regular, small };

// A two-state control's state (the platform's values).
enum class ControlStateValue { off = 0, on = 1 };

// A view the user acts on: enabled or not, a font, a control size, and an action. The action
// has a name (what menus and the responder chain know it by) and a handler that carries it
// out. A click is a press and a release inside the control; Space clicks the focused control.
// Controls take first responder (full keyboard access) unless they refuse it. Main thread only.
class Control : public View {
public:
    using ActionHandler = std::function<void(Control& sender)>;

    explicit Control(const Rect& frame = {});

    bool isEnabled() const override { return enabled_; }
    void setEnabled(bool enabled);
    ControlSize controlSize() const { return controlSize_; }
    void setControlSize(ControlSize size);
    // The font set, else the system font of the control size (13 points, or 11 when small).
    Font font() const;
    void setFont(std::optional<Font> font);

    const std::string& action() const { return action_; }
    void setAction(std::string name, ActionHandler handler = {});
    // Runs the action's handler when the control is enabled; true when one ran.
    bool sendAction();
    // What a click does: the default sends the action.
    virtual void performClick();

    bool refusesFirstResponder() const { return refusesFirstResponder_; }
    void setRefusesFirstResponder(bool refuses) { refusesFirstResponder_ = refuses; }
    bool acceptsFirstResponder() const override { return !refusesFirstResponder_; }

    // True while a press is held inside the control.
    bool isHighlighted() const { return highlighted_; }
    void highlight(bool highlighted);

    void mouseDown(const MouseEvent& event) override;
    void mouseUp(const MouseEvent& event) override;
    void keyDown(const KeyEvent& event) override;

protected:
    // The control's content changed size or look.
    void contentChanged();

private:
    bool enabled_ = true;
    ControlSize controlSize_ = ControlSize::regular;
    std::optional<Font> font_;
    std::string action_;
    ActionHandler handler_;
    bool refusesFirstResponder_ = false;
    bool highlighted_ = false;
};

// The spoken value of an on/off state: "on" or "off".
std::string spokenState(ControlStateValue state);

// The colours of our controls' own parts, per appearance and Increase Contrast.
namespace ControlColors {
// The face of a bezel, check box or radio button that is not filled.
Color face();
// The outline around it.
Color border();
// Text and marks drawn on a fill: white on dark fills, black on light ones.
Color onFill(const Color& fill);
} // namespace ControlColors

} // namespace tarpelix::platform
