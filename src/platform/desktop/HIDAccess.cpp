#include "platform/desktop/HIDAccess.h"

#include "platform/desktop/Desktop.h"
#include "platform/desktop/HIDAccessControl.h"
#include "platform/desktop/InputEvents.h"

#include <mutex>

namespace tarpelix::platform {

namespace {

void resetHIDAccess() {
    auto& d = Desktop::shared();
    std::lock_guard lock(d.mutex);
    d.inputEvents.listenRequestGrants = false;
}

Desktop& desktop() {
    static std::once_flag once;
    auto& shared = Desktop::shared();
    std::call_once(once, [&] { shared.addResetHandler(resetHIDAccess); });
    return shared;
}

} // namespace

bool HIDAccess::requestAccess(HIDRequestType type) {
    auto& d = desktop();
    if (type == HIDRequestType::postEvent) {
        std::lock_guard lock(d.mutex);
        return d.inputEvents.accessibilityTrusted;
    }
    {
        std::lock_guard lock(d.mutex);
        if (d.inputEvents.listenRequestGrants) d.inputEvents.listenEventAccess = true;
    }
    return requestListenEventAccess();
}

void HIDAccessControl::setRequestGrantsAccess(bool grants) {
    auto& d = desktop();
    std::lock_guard lock(d.mutex);
    d.inputEvents.listenRequestGrants = grants;
}

} // namespace tarpelix::platform
