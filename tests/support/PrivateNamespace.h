#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace tarpelix::testing {

// Moves the test program into a private mount namespace where /tmp and the user's home
// directory (the password database's, which ssh reads) are fresh empty file systems, so no
// test touches the machine's real ~/.ssh, tmux sockets or control sockets, and parallel test
// processes never meet. Directories listed in `keep` that lie under /tmp or the home (a build
// or source tree) are mounted back in place.
//
// Must run before any thread starts, since a threaded process cannot change its mount
// namespace: call it from a static initializer of the test program. Returns true when the
// namespace is in place.
bool enterPrivateMountNamespace(const std::vector<std::string>& keep);

// Empty when the namespace is in place; otherwise why it could not be made.
const std::string& privateNamespaceUnavailableReason();

// Mounts `source` over `target` (a file or a directory) inside the private namespace.
void bindMount(const std::string& source, const std::string& target);
void unmount(const std::string& target);

// The living processes of the private namespace but this one: everything this test program
// started. Empty outside a private namespace.
std::vector<pid_t> otherProcessesInNamespace();

// Kills every process of the private namespace but this one (servers, clients, connection
// masters and whatever they started) and waits until none is left alive. Does nothing outside
// a private namespace.
void stopEveryOtherProcessInNamespace();

} // namespace tarpelix::testing

// Skips the current test, with the reason, where the private namespace could not be made.
#define TARPELIX_REQUIRE_PRIVATE_NAMESPACE()                                                   \
    do {                                                                                       \
        if (!::tarpelix::testing::privateNamespaceUnavailableReason().empty())                 \
            GTEST_SKIP() << ::tarpelix::testing::privateNamespaceUnavailableReason();          \
    } while (0)
