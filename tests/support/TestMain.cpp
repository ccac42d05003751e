#include "platform/foundation/MainThread.h"

#include <gmock/gmock.h>

// Fontconfig keeps a few allocations of its one-time set-up (the font files the toolkit adds
// to its own configuration) out of reach of its clean-up; the leak checker of sanitizer
// builds is told so. Without a sanitizer nothing calls this.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

int main(int argc, char** argv) {
    tarpelix::platform::initializeProcess();
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
