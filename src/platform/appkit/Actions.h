#pragma once

#include <string>

namespace tarpelix::platform {

class MenuItem;

// Whatever sends an action (a menu item, a control); receivers may look at what it is.
class ActionSender {
public:
    virtual ~ActionSender() = default;
};

// Something named actions can be sent to. An action is a name ("copy:"). Responders (views,
// windows, the application) are action targets; a window's or the application's delegate
// takes part in the responder chain when it is one too.
class ActionTarget {
public:
    virtual ~ActionTarget() = default;
    virtual bool respondsToAction(const std::string& /*action*/) const { return false; }
    virtual void performAction(const std::string& /*action*/, ActionSender* /*sender*/) {}
    // Asked before an auto-enabled menu item is enabled for this target; true by default.
    virtual bool validateMenuItem(const MenuItem& /*item*/) const { return true; }
};

// The standard actions: sent with no target, up the responder chain.
namespace StandardAction {
inline const std::string copy = "copy:";
inline const std::string selectAll = "selectAll:";
inline const std::string performClose = "performClose:";
inline const std::string performMiniaturize = "performMiniaturize:";
inline const std::string terminate = "terminate:";
inline const std::string orderFrontStandardAboutPanel = "orderFrontStandardAboutPanel:";
} // namespace StandardAction

} // namespace tarpelix::platform
