#pragma once

#include "platform/desktop/Appearance.h"
#include "platform/foundation/Calendar.h"
#include "platform/foundation/URL.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tarpelix::platform {

class NotificationCenter;
struct Image;

// One application of the session, as the workspace reports it at the moment of asking.
struct RunningApplication {
    pid_t processIdentifier = 0;
    std::optional<std::string> bundleIdentifier;
    std::string localizedName;
    bool isTerminated = false;
    // The path of the application's bundle, when it was launched from one.
    std::optional<std::string> bundleURL;

    bool operator==(const RunningApplication&) const = default;
};

// The workspace: which applications run and which one is frontmost, the user's display and
// region settings, opening URLs and file icons.
namespace Workspace {

std::optional<RunningApplication> frontmostApplication();
// The applications with this bundle identifier, in launch order. An application that quits
// leaves the list once its did-terminate notification has been posted; until then it is
// listed with isTerminated set.
std::vector<RunningApplication> runningApplications(const std::string& bundleIdentifier);
std::optional<RunningApplication> runningApplication(pid_t pid);

// The workspace's own notification centre (activation, sleep and wake, display options);
// names in WorkspaceNotifications.h.
NotificationCenter& notificationCenter();

Appearance appearance();
bool accessibilityDisplayShouldIncreaseContrast();
bool accessibilityDisplayShouldReduceMotion();

// The user's region settings: a locale identifier ("en_US") and the time zone.
std::string localeIdentifier();
TimeZone timeZone();

// Hands the URL to the application that opens it (the browser for a web page); false when
// none does: no scheme, or the desktop refuses.
bool openURL(const std::string& url);

// The path of the installed application bundle with this identifier; none when none is
// installed.
std::optional<std::string> urlForApplication(const std::string& bundleIdentifier);

// Opens the application bundle at `path`: launches it, or brings its running instance to the
// front. The completion gets the running application, or none when the application could not
// be opened; it is called later, on a global queue.
void openApplication(const std::string& path,
                     std::function<void(std::optional<RunningApplication> application)> completion);

// The local domain's Applications folder, as a directory URL: "/Applications" unless the
// control has pointed it elsewhere.
URL applicationsDirectory();

// The icon Finder shows for the file at `path`, a 64 × 64 bitmap: one for applications (a name
// ending in ".app"), one for existing directories, one for every other path.
std::shared_ptr<const Image> icon(const std::string& path);

} // namespace Workspace

} // namespace tarpelix::platform
