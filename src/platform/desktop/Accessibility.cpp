#include "platform/desktop/Accessibility.h"

#include "platform/desktop/Desktop.h"

#include <mutex>

namespace tarpelix::platform::Accessibility {

bool isProcessTrusted() {
    auto& d = Desktop::shared();
    std::lock_guard lock(d.mutex);
    return d.inputEvents.accessibilityTrusted;
}

} // namespace tarpelix::platform::Accessibility
