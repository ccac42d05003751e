#include "platform/foundation/MainThread.h"

#include <gmock/gmock.h>

int main(int argc, char** argv) {
    tarpelix::platform::initializeProcess();
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
