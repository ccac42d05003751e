#include "platform/desktop/DesktopControl.h"

#include "platform/desktop/Desktop.h"
#include "platform/foundation/Bundle.h"

namespace tarpelix::platform::DesktopControl {

void reset() {
    Desktop::shared().reset();
    BundleControl::reset();
}

} // namespace tarpelix::platform::DesktopControl
