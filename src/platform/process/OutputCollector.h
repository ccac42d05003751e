#pragma once

#include "platform/foundation/Bytes.h"

#include <chrono>
#include <cstddef>
#include <functional>

namespace tarpelix::platform {

class ChildProcess;

// Reads a child's output pipe to its end while the child runs, bounded in time and size.
// The pipe's read end must be non-blocking. Each round first calls `eachRound` (which may
// throw, to cancel), then tests the deadline, then reads. Reading goes on until end of file
// has been seen and the child has ended (it is left unreaped for the caller).
struct OutputLimits {
    double deadline = 0;            // seconds of system uptime
    std::size_t maximumBytes = 0;   // more than this fails; exactly this is accepted
    std::size_t bufferSize = 8192;
    std::chrono::milliseconds pause{10}; // the wait while nothing can be read
};

struct CollectedOutput {
    enum class End { complete, timedOut, tooLarge, readFailed };
    End end = End::complete;
    Bytes bytes;
};

CollectedOutput collectOutput(ChildProcess& child, int readEnd, const OutputLimits& limits,
                              const std::function<void()>& eachRound);

} // namespace tarpelix::platform
