#include "platform/appkit/Panel.h"

namespace tarpelix::platform {

void Panel::setFloatingPanel(bool floating) {
    floating_ = floating;
    setLevel(floating ? WindowLevels::floating : WindowLevels::normal);
}

} // namespace tarpelix::platform
