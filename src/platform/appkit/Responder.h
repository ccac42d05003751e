#pragma once

#include "platform/appkit/Actions.h"
#include "platform/appkit/Events.h"

#include <memory>

namespace tarpelix::platform {

// Something events and actions can be sent to: views, windows and the application. A key or
// mouse event a responder does not handle goes on to its next responder; one nobody handles
// makes the system beep (counted on the control surface). Responders answer named actions
// sent up the chain; a window answers the standard window actions (performClose:,
// performMiniaturize:).
class Responder : public ActionTarget, public std::enable_shared_from_this<Responder> {
public:
    virtual ~Responder() = default;
    Responder(const Responder&) = delete;
    Responder& operator=(const Responder&) = delete;

    virtual Responder* nextResponder() const { return nullptr; }

    virtual bool acceptsFirstResponder() const { return false; }
    // Asked by the window when it makes this the first responder; false refuses.
    virtual bool becomeFirstResponder() { return true; }
    // Asked by the window when another responder is to become first; false keeps focus here.
    virtual bool resignFirstResponder() { return true; }

    virtual void keyDown(const KeyEvent& event);
    virtual void keyUp(const KeyEvent& event);
    virtual void mouseDown(const MouseEvent& event);
    virtual void mouseUp(const MouseEvent& event);
    // True when the responder handled the key as a key equivalent; the default handles none.
    virtual bool performKeyEquivalent(const KeyEvent&) { return false; }
    // Escape (or Command-.): passed up the chain unless a responder handles it.
    virtual void cancelOperation();

    // Overrides hand the actions they do not know on to these.
    bool respondsToAction(const std::string& action) const override;
    void performAction(const std::string& action, ActionSender* sender) override;
    bool validateMenuItem(const MenuItem& item) const override;

protected:
    Responder() = default;
    // The end of the chain: nobody handled the event.
    static void noResponderFor(EventType type);
};

} // namespace tarpelix::platform
