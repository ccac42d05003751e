#pragma once

#include "platform/dispatch/RunLoop.h"

#include <functional>

namespace tarpelix::testing {

// Runs the main run loop until the predicate holds, at most `timeoutSeconds`.
inline bool runMainUntil(const std::function<bool()>& predicate, double timeoutSeconds = 10.0) {
    return platform::RunLoop::main()->runUntil(predicate, timeoutSeconds);
}

} // namespace tarpelix::testing
