#include "platform/appkit/WindowDisplay.h"

#include "platform/appkit/AppKitState.h"
#include "platform/appkit/Layer.h"

namespace tarpelix::platform {

void WindowDisplay::displayVisibleWindowsIfNeeded() { appkitstate::countDisplayRequest(); }

void WindowDisplay::flushAnimationTransaction() { Transaction::flush(); }

} // namespace tarpelix::platform
