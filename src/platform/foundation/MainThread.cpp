#include "platform/foundation/MainThread.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace tarpelix::platform {

bool isMainThread() { return gettid() == getpid(); }

void fatal(const char* message) {
    std::fprintf(stderr, "fatal: %s\n", message);
    std::fflush(stderr);
    std::abort();
}

void requireMainThread(const char* where) {
    if (!isMainThread()) {
        std::fprintf(stderr, "fatal: %s must be called on the main thread\n", where);
        std::fflush(stderr);
        std::abort();
    }
}

void initializeProcess() {
    // A write to a closed pipe fails with EPIPE, and one past the file-size limit with EFBIG:
    // errors the callers handle, instead of signals that end the process.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

} // namespace tarpelix::platform
