#include "platform/appkit/Responder.h"

#include "platform/appkit/AppKitState.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/MenuItem.h"
#include "platform/appkit/TitleBar.h"
#include "platform/appkit/Window.h"

#include <optional>

namespace tarpelix::platform {

void Responder::keyDown(const KeyEvent& event) {
    if (auto* next = nextResponder()) return next->keyDown(event);
    if (auto* after = Application::shared().keyResponderAfter(*this, event)) return after->keyDown(event);
    noResponderFor(event.type);
}

void Responder::keyUp(const KeyEvent& event) {
    if (auto* next = nextResponder()) next->keyUp(event);
}

void Responder::mouseDown(const MouseEvent& event) {
    if (auto* next = nextResponder()) next->mouseDown(event);
}

void Responder::mouseUp(const MouseEvent& event) {
    if (auto* next = nextResponder()) next->mouseUp(event);
}

void Responder::cancelOperation() {
    if (auto* next = nextResponder()) next->cancelOperation();
}

namespace {

// The title-bar button a standard window action stands for; none for other actions.
std::optional<WindowButtonKind> windowButtonFor(const std::string& action) {
    if (action == StandardAction::performClose) return WindowButtonKind::close;
    if (action == StandardAction::performMiniaturize) return WindowButtonKind::miniaturize;
    return std::nullopt;
}

} // namespace

bool Responder::respondsToAction(const std::string& action) const {
    return dynamic_cast<const Window*>(this) && windowButtonFor(action);
}

void Responder::performAction(const std::string& action, ActionSender*) {
    auto* window = dynamic_cast<Window*>(this);
    const auto button = windowButtonFor(action);
    if (!window || !button) return;
    if (*button == WindowButtonKind::close) {
        window->performClose();
    } else {
        window->miniaturize();
    }
}

// A window's close and miniaturise items are enabled while its title-bar button is.
bool Responder::validateMenuItem(const MenuItem& item) const {
    const auto* window = dynamic_cast<const Window*>(this);
    const auto button = windowButtonFor(item.action());
    if (!window || !button) return true;
    const auto* control = window->standardWindowButton(*button);
    return control && control->isEnabled();
}

void Responder::noResponderFor(EventType type) {
    if (type == EventType::keyDown) appkitstate::countBeep();
}

} // namespace tarpelix::platform
