#include "platform/appkit/AppKitControl.h"

#include "platform/appkit/AppKitState.h"
#include "platform/desktop/Desktop.h"

#include <atomic>
#include <mutex>
#include <set>

namespace tarpelix::platform {

namespace {

struct State {
    std::mutex mutex;
    std::set<std::string, std::less<>> withdrawnSymbols;
    std::atomic<int> displayRequests{0};
    std::atomic<int> flushes{0};
};

State& state() {
    static auto* shared = new State(); // lives as long as the process
    static std::once_flag once;
    std::call_once(once, [] { Desktop::shared().addResetHandler([] { AppKitControl::reset(); }); });
    return *shared;
}

} // namespace

bool appkitstate::isSymbolWithdrawn(const std::string& name) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    return s.withdrawnSymbols.contains(name);
}

void appkitstate::countDisplayRequest() { ++state().displayRequests; }
void appkitstate::countFlush() { ++state().flushes; }

void AppKitControl::withdrawSymbol(const std::string& name) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.withdrawnSymbols.insert(name);
}

void AppKitControl::restoreSymbols() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.withdrawnSymbols.clear();
}

int AppKitControl::windowDisplayRequests() { return state().displayRequests; }
int AppKitControl::animationFlushes() { return state().flushes; }

void AppKitControl::reset() {
    restoreSymbols();
    state().displayRequests = 0;
    state().flushes = 0;
}

} // namespace tarpelix::platform
