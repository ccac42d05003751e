#include "platform/appkit/WindowDisplay.h"

#include "platform/appkit/AppKitState.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Layer.h"
#include "platform/appkit/Window.h"

namespace tarpelix::platform {

void WindowDisplay::displayVisibleWindowsIfNeeded() {
    appkitstate::countDisplayRequest();
    for (Window* window : Application::shared().orderedWindows()) window->displayIfNeeded();
}

void WindowDisplay::flushAnimationTransaction() { Transaction::flush(); }

} // namespace tarpelix::platform
