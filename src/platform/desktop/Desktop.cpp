#include "platform/desktop/Desktop.h"

namespace tarpelix::platform {

Desktop& Desktop::shared() {
    static auto* desktop = new Desktop(); // lives as long as the process
    return *desktop;
}

void Desktop::addResetHandler(std::function<void()> handler) {
    std::lock_guard lock(resetMutex_);
    resetHandlers_.push_back(std::move(handler));
}

void Desktop::reset() {
    std::vector<std::function<void()>> handlers;
    {
        std::lock_guard lock(resetMutex_);
        handlers = resetHandlers_;
    }
    for (const auto& handler : handlers) handler();
}

} // namespace tarpelix::platform
