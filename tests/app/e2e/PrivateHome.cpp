#include "support/PrivateNamespace.h"

#include <cstdlib>

namespace {

// Every test of this program runs in a private mount namespace (its own /tmp and home), and
// the application keeps its data and user defaults in directories of that /tmp.
bool enterPrivateHome() {
    const bool entered = tarpelix::testing::enterPrivateMountNamespace({TARPELIX_SOURCE_DIR, TARPELIX_BINARY_DIR});
    setenv("XDG_DATA_HOME", "/tmp/tarpelix-app-data", 1);
    setenv("XDG_CONFIG_HOME", "/tmp/tarpelix-app-config", 1);
    return entered;
}

[[maybe_unused]] const bool privateHome = enterPrivateHome();

} // namespace
