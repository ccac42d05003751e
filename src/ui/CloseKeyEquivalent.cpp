#include "ui/CloseKeyEquivalent.h"

#include "platform/foundation/Text.h"

namespace tarpelix {

bool isCloseWindowKeyEquivalent(const platform::KeyEvent& event) {
    if ((event.modifierFlags & platform::deviceIndependentFlagsMask) != platform::EventFlag::command) return false;
    return platform::text::lowercased(event.charactersIgnoringModifiers) == "w";
}

bool CloseKeyWindow::performKeyEquivalent(const platform::KeyEvent& event) {
    if (isCloseWindowKeyEquivalent(event)) {
        performClose();
        return true;
    }
    return Window::performKeyEquivalent(event);
}

} // namespace tarpelix
