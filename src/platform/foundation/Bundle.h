#pragma once

#include <optional>
#include <string>

// The application bundle this process runs from: where its shipped resources are.
namespace tarpelix::platform::Bundle {

// The path of a resource of the main bundle ("name.extension"), if it exists.
std::optional<std::string> urlForResource(const std::string& name, const std::string& extension);

} // namespace tarpelix::platform::Bundle

namespace tarpelix::platform::BundleControl {

// The directory that holds the main bundle's resources; by default the source tree's
// resources/ folder. Tests point it elsewhere to provide or withhold a resource.
void setResourceDirectory(const std::string& directory);

// Back to the default directory (the simulated desktop's reset does this too).
void reset();

} // namespace tarpelix::platform::BundleControl
