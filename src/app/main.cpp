#include "app/AppDelegate.h"
#include "platform/foundation/MainThread.h"

int main() {
    tarpelix::platform::initializeProcess();
    return tarpelix::AppDelegate::runApplication();
}
