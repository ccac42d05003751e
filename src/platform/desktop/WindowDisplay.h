#pragma once

// What the application does to get a change drawn at once: every visible window displays
// what it needs to, then the pending animation transaction is flushed. The simulated desktop
// has no windows yet; it counts the requests (WorkspaceNotificationsControl).
namespace tarpelix::platform::WindowDisplay {

void displayVisibleWindowsIfNeeded();
void flushAnimationTransaction();

} // namespace tarpelix::platform::WindowDisplay
