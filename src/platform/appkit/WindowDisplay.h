#pragma once

// What the application does to get a change drawn at once: every visible window displays
// what it needs to, then the pending animation transaction is flushed. Each visible window
// displays what changed; the requests are counted (AppKitControl).
namespace tarpelix::platform::WindowDisplay {

void displayVisibleWindowsIfNeeded();
// Transaction::flush().
void flushAnimationTransaction();

} // namespace tarpelix::platform::WindowDisplay
