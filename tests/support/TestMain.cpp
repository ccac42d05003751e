#include "platform/foundation/MainThread.h"

#include <gmock/gmock.h>

// Fontconfig keeps a few allocations of its one-time set-up (the font files the toolkit adds
// to its own configuration) out of reach of its clean-up, and libcrypto's per-thread state of
// a queue thread still running at exit is out of the leak checker's sight (we hold no libcrypto
// object of our own: only one-shot SHA-256 and Base64 calls). The leak checker of sanitizer
// builds is told so. Without a sanitizer nothing calls this.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\nleak:libcrypto.so\n"; }

// Pango loads fonts on a worker thread of its own and hands them over with GLib's futex-based
// locks, which ThreadSanitizer cannot see in these uninstrumented libraries: it would report
// that hand-over as a race inside fontconfig and pango's fontconfig backend, and GLib's own
// clean-up at exit of what that worker thread allocated as a race inside GLib.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libfontconfig.so\nrace:libpangoft2-1.0.so\nrace:libglib-2.0.so\n";
}

int main(int argc, char** argv) {
    tarpelix::platform::initializeProcess();
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
