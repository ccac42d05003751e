#pragma once

#include "platform/appkit/AppKitControl.h"

#include <string>

// Internal to the toolkit: the state its control surface sets and reads.
namespace tarpelix::platform::appkitstate {

bool isSymbolWithdrawn(const std::string& name);
void countDisplayRequest();
void countFlush();
void countBeep();
void recordAccessibilityNotification(AppKitControl::AccessibilityNotificationRecord record);
// Desktop events handed to the main queue, and handled there.
void eventQueued();
void eventHandled();
// Has the simulated desktop's reset reset the toolkit (and the application) too; idempotent.
void resetWithDesktop();
// Puts the application back as at start-up, if it exists (main thread).
void resetApplication();
// How long a modal alert waits for an answer before it stops the process.
double modalWaitSeconds();

} // namespace tarpelix::platform::appkitstate
