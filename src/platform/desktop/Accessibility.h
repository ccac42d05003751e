#pragma once

namespace tarpelix::platform::Accessibility {

// Whether this process is trusted for Accessibility (never prompts).
bool isProcessTrusted();

} // namespace tarpelix::platform::Accessibility
