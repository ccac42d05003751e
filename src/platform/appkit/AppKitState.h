#pragma once

#include <string>

// Internal to the toolkit: the state its control surface sets and reads.
namespace tarpelix::platform::appkitstate {

bool isSymbolWithdrawn(const std::string& name);
void countDisplayRequest();
void countFlush();

} // namespace tarpelix::platform::appkitstate
