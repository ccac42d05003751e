#include "support/PrivateNamespace.h"

// Every test of this program runs in a private mount namespace: its own /tmp and home
// directory, so the ssh configuration the tests write never meets the user's own.
[[maybe_unused]] static const bool privateNamespace =
    tarpelix::testing::enterPrivateMountNamespace({TARPELIX_SOURCE_DIR, TARPELIX_BINARY_DIR});
