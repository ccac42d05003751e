#pragma once

#include <cstddef>
#include <string>

// Control surface of the workspace's notifications, for tests and the demo. Application
// activation is posted by WorkspaceControl::activateApplication (and by a launch that
// activates) whenever the frontmost application changes.
namespace tarpelix::platform::WorkspaceNotificationsControl {

// The Mac is about to sleep / has woken: posts the notification on the calling thread.
void sleep();
void wake();

// How many observers of that name are registered now.
std::size_t observerCount(const std::string& name);

} // namespace tarpelix::platform::WorkspaceNotificationsControl
