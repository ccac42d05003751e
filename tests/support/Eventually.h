#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace tarpelix::testing {

// Polls a condition until it holds, at most `timeoutSeconds`; for conditions outside the main
// run loop (processes, files). True when the condition held.
inline bool waitUntil(const std::function<bool()>& condition, double timeoutSeconds = 10.0) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    while (true) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace tarpelix::testing
