#pragma once

#include <chrono>
#include <functional>

namespace tarpelix::platform::detail {

// One process-wide thread that runs short blocks at instants of the steady clock
// (system uptime). Blocks only hand work to a queue; they never run user code.
void scheduleAt(std::chrono::steady_clock::time_point when, std::function<void()> block);

} // namespace tarpelix::platform::detail

namespace tarpelix::platform::detail {
// Runs a block of the main dispatch queue, marking the thread as running that queue.
void runMainQueueBlock(const std::function<void()>& block);
} // namespace tarpelix::platform::detail
