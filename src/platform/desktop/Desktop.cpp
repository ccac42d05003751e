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
    std::lock_guard lock(recordsMutex_);
    records_.clear();
}

void Desktop::record(std::string step) {
    std::lock_guard lock(recordsMutex_);
    records_.push_back(std::move(step));
}

std::vector<std::string> Desktop::records() const {
    std::lock_guard lock(recordsMutex_);
    return records_;
}

} // namespace tarpelix::platform
