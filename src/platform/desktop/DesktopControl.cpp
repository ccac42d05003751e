#include "platform/desktop/DesktopControl.h"

#include "platform/desktop/Desktop.h"
#include "platform/foundation/Bundle.h"

namespace tarpelix::platform::DesktopControl {

void reset() {
    Desktop::shared().reset();
    BundleControl::reset();
}

std::vector<std::string> records() { return Desktop::shared().records(); }

} // namespace tarpelix::platform::DesktopControl
