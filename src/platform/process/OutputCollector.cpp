#include "platform/process/OutputCollector.h"

#include "platform/foundation/Clock.h"
#include "platform/process/ChildProcess.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace tarpelix::platform {

CollectedOutput collectOutput(ChildProcess& child, int readEnd, const OutputLimits& limits,
                              const std::function<void()>& eachRound) {
    CollectedOutput result;
    std::vector<std::uint8_t> buffer(limits.bufferSize);
    bool endOfFile = false;
    while (true) {
        if (eachRound) eachRound();
        if (systemUptime() >= limits.deadline) {
            result.end = CollectedOutput::End::timedOut;
            return result;
        }
        if (!endOfFile) {
            ssize_t n = ::read(readEnd, buffer.data(), buffer.size());
            if (n > 0) {
                if (result.bytes.size() + static_cast<std::size_t>(n) > limits.maximumBytes) {
                    result.end = CollectedOutput::End::tooLarge;
                    return result;
                }
                result.bytes.insert(result.bytes.end(), buffer.begin(), buffer.begin() + n);
                continue;
            }
            if (n == 0) {
                endOfFile = true;
            } else if (errno == EAGAIN || errno == EINTR) {
                // Nothing yet: wait for data, the child's end or the pause rather than spin.
                pollfd wait{readEnd, POLLIN, 0};
                child.awaitActivity({&wait, 1}, limits.pause);
                continue;
            } else {
                result.end = CollectedOutput::End::readFailed;
                return result;
            }
        }
        if (!child.isRunning()) return result;
        // The output has ended but the child runs on: wait for its end.
        child.awaitActivity({}, limits.pause);
    }
}

CollectedOutput runCollectingOutput(ChildProcess& child, const OutputLimits& limits,
                                    const std::function<void()>& eachRound) {
    auto output = Pipe::create();
    child.standardOutput = ChildProcess::Stream::descriptor(output.writeEnd.get());
    child.launch();
    output.writeEnd.reset();
    if (!setNonBlocking(output.readEnd.get())) return {CollectedOutput::End::pipeUnavailable, {}};

    auto bounded = limits;
    bounded.deadline = std::min(limits.deadline, systemUptime() + limits.runLimit);
    auto collected = collectOutput(child, output.readEnd.get(), bounded, eachRound);
    if (collected.end == CollectedOutput::End::complete) child.waitUntilExit();
    return collected;
}

} // namespace tarpelix::platform
