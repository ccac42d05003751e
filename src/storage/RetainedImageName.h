#pragma once

#include <string_view>

namespace tarpelix {

// A file of the images directory that the store owns: "<UUID>.png" or ".<UUID>.tmp", with the
// UUID in its canonical upper-case form. Every other name is never touched.
bool isRetainedImageName(std::string_view name);

} // namespace tarpelix
