#pragma once

#include "platform/desktop/Accessibility.h"

#include <cstdint>
#include <string>

namespace tarpelix {

// The captured pane. No equality: validation compares the fields one by one.
struct TerminalTarget {
    std::int32_t applicationPID = 0;
    std::string windowID;
    std::string tabID;
    std::string terminalID;
    std::string tty;
    platform::AXUIElementRef focusedElement;
};

} // namespace tarpelix
