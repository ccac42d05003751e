#pragma once

#include <string>
#include <vector>

namespace tarpelix::platform {

class View;
class Window;

// Reads a window the way a screen reader speaks it, for tests of what a user who cannot see
// the screen hears.
namespace ScreenReader {

// The window's title, then one line per accessibility element of its content in reading order
// (top to bottom, leading to trailing); hidden views and what they hold are skipped.
std::vector<std::string> read(const Window& window);

// One element's line: its label, value, expanded state, role words and help, joined by ", "
// ("Save, button"); parts that are empty are left out.
std::string line(const View& element);

} // namespace ScreenReader

} // namespace tarpelix::platform
