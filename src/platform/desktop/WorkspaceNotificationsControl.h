#pragma once

#include <cstddef>
#include <string>

// Control surface of the workspace's notifications and the window display, for tests and
// the demo. Application activation is posted by WorkspaceControl::activateApplication (and
// by a launch that activates) whenever the frontmost application changes.
namespace tarpelix::platform::WorkspaceNotificationsControl {

// The Mac is about to sleep / has woken: posts the notification on the calling thread.
void sleep();
void wake();

// How many observers of that name are registered now.
std::size_t observerCount(const std::string& name);

// How often the application asked its visible windows to display, and flushed its pending
// animation transaction, since the desktop was reset.
int windowDisplayRequests();
int animationFlushes();

} // namespace tarpelix::platform::WorkspaceNotificationsControl
