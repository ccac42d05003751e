#include "platform/desktop/DesktopControl.h"

#include "platform/desktop/Desktop.h"

namespace tarpelix::platform::DesktopControl {

void reset() { Desktop::shared().reset(); }

} // namespace tarpelix::platform::DesktopControl
