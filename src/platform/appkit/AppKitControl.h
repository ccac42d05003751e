#pragma once

#include <string>

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

void reset();

} // namespace tarpelix::platform::AppKitControl
