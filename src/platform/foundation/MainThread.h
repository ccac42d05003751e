#pragma once

namespace tarpelix::platform {

// True on the process's initial thread, which runs the main run loop.
bool isMainThread();

// Stops the process with a message when not called on the main thread.
// `where` names the caller in the message.
void requireMainThread(const char* where);

// Stops the process after writing the message to stderr.
[[noreturn]] void fatal(const char* message);

// Process-wide start-up: SIGPIPE and SIGXFSZ ignored (child processes get the defaults back).
void initializeProcess();

} // namespace tarpelix::platform
