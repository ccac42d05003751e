#pragma once

#include "platform/foundation/Bytes.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <limits>

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
    // The longest single wait for output or for the child's end; `eachRound` and the
    // deadline are checked between waits.
    std::chrono::milliseconds pause{10};
    // For runCollectingOutput: seconds from the launch after which the run times out, when
    // that comes before `deadline`.
    double runLimit = std::numeric_limits<double>::infinity();
};

struct CollectedOutput {
    // `pipeUnavailable` only from runCollectingOutput: the pipe could not be made non-blocking.
    enum class End { complete, timedOut, tooLarge, readFailed, pipeUnavailable };
    End end = End::complete;
    Bytes bytes;
};

CollectedOutput collectOutput(ChildProcess& child, int readEnd, const OutputLimits& limits,
                              const std::function<void()>& eachRound);

// Launches a configured child with its standard output on a fresh pipe (its other streams
// as configured) and collects that output. A launch failure is thrown as the system's error.
// On `complete` the child has ended and been reaped, so its status can be read; on any other
// end, and when `eachRound` throws, the child is left running or unreaped for its owner,
// whose going away kills its group and reaps it. The pipe is closed on every path.
CollectedOutput runCollectingOutput(ChildProcess& child, const OutputLimits& limits,
                                    const std::function<void()>& eachRound);

} // namespace tarpelix::platform
