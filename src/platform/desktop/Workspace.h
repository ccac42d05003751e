#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tarpelix::platform {

// One application of the session, as the workspace reports it at the moment of asking.
struct RunningApplication {
    pid_t processIdentifier = 0;
    std::optional<std::string> bundleIdentifier;
    std::string localizedName;
    bool isTerminated = false;

    bool operator==(const RunningApplication&) const = default;
};

// The workspace's applications: which run and which one is frontmost.
namespace Workspace {

std::optional<RunningApplication> frontmostApplication();
// The applications with this bundle identifier, in launch order; an application that has
// just quit may still be listed, with isTerminated set.
std::vector<RunningApplication> runningApplications(const std::string& bundleIdentifier);
std::optional<RunningApplication> runningApplication(pid_t pid);

} // namespace Workspace

} // namespace tarpelix::platform
