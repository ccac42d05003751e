#include "platform/appkit/Responder.h"

#include "platform/appkit/AppKitState.h"

namespace tarpelix::platform {

void Responder::keyDown(const KeyEvent& event) {
    if (auto* next = nextResponder()) return next->keyDown(event);
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

void Responder::noResponderFor(EventType type) {
    if (type == EventType::keyDown) appkitstate::countBeep();
}

} // namespace tarpelix::platform
