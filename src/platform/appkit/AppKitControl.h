#pragma once

#include "platform/appkit/AboutPanel.h"
#include "platform/desktop/InputEvents.h"
#include "platform/foundation/Geometry.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tarpelix::platform {
class Menu;
class StatusItem;
class View;
class Window;
struct SheetContents;
}

// Control surface of the toolkit, for tests and the demo. The simulated desktop's reset
// resets it too.
namespace tarpelix::platform::AppKitControl {

// Makes GraphicsImage::systemSymbol give no image for that name, as on a system without the
// symbol; restoreSymbols() brings every withdrawn one back.
void withdrawSymbol(const std::string& name);
void restoreSymbols();

// How often the application asked its visible windows to display (WindowDisplay), and how
// often the animation transaction was flushed (Transaction::flush), since the last reset.
int windowDisplayRequests();
int animationFlushes();
// How often the system beeped: a key nobody handled, a close or miniaturise refused.
int beeps();

// An accessibility notification a view posted: the element (its label, else its identifier)
// and the notification's name.
struct AccessibilityNotificationRecord {
    std::string element;
    std::string notification;
    bool operator==(const AccessibilityNotificationRecord&) const = default;
};
std::vector<AccessibilityNotificationRecord> accessibilityNotifications();

// The user's mouse and keyboard, through the desktop's event stream. Each returns once the
// application has handled what reached it (main thread: it runs the main run loop meanwhile).
// A click at a point of the screen (y up) goes to the application whose window is there: ours,
// else another application's by the Accessibility frames of its windows (a click into an
// application that is not frontmost activates it); where no window is, to the frontmost
// application.
void clickAt(Point screenPoint, EventFlags flags = 0);
// A click at the middle of a view of a window.
void click(const View& view, EventFlags flags = 0);
// Presses and releases a key, typing `characters`, with the modifiers; it goes to the frontmost
// application.
void typeKey(std::uint16_t keyCode, const std::string& characters = {}, EventFlags flags = 0);

// Clicks a status item in the menu bar: its menu opens and is tracked (the main run loop runs
// in the event-tracking mode) until a block or timer running meanwhile chooses an item or
// dismisses the menu; returns after the menu closed and the chosen item's action was sent.
void clickStatusItem(const StatusItem& item);
// The open menu; none when no menu is open.
Menu* openMenu();
// Chooses an enabled, shown item of the open menu (or of a submenu) by title or identifier;
// false when no menu is open or it has no such item.
bool chooseMenuItem(const std::string& titleOrIdentifier);
// Closes the open menu without choosing; false when none is open.
bool dismissMenu();

// Alerts and save panels. `presented` is a window's attached sheet or the modal alert's window.
// The alert running modally now; none outside runModal.
Window* modalWindow();
// What the sheet or alert shows; none when the window is neither.
std::optional<SheetContents> readSheet(const Window& presented);
// Presses its enabled button with that title; false when it has none.
bool pressButton(const Window& presented, const std::string& title);
// Presses Return or Escape (KeyCode) while it is up; true when that ended it.
bool pressKey(Window& presented, std::uint16_t keyCode);
// Answers a save panel with a path (OK) or without (cancel); false when the window is not a
// save panel that is up.
bool answerSavePanel(const Window& presented, const std::optional<std::filesystem::path>& path);
// How long runModal waits for an answer before it stops the process (30 seconds after reset).
void setModalWaitSeconds(double seconds);

// The About panel: the options its last showing was given (none before the first, or after a
// reset), and its window (none until shown).
std::optional<AboutPanelOptions> aboutPanelOptions();
Window* aboutPanelWindow();

// The application as the system drives it. From any thread, each moves to the main run loop
// and returns before it ran there: the user opens the application again (the delegate's
// reopen decision), or the system asks it to quit (the delegate may answer later).
void reopenApplication();
void requestQuit();
// After the application ended (run() returned) and the objects of that run were released,
// puts the shared application back as at start-up, keeping the rest of the desktop: no
// delegate, windows, main menu or About panel; the next run registers it with the workspace
// as a new process, as a relaunch does. Main thread.
void resetApplication();

void reset();

} // namespace tarpelix::platform::AppKitControl
