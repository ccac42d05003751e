#pragma once

#include "platform/foundation/PropertyList.h"
#include "platform/foundation/URL.h"

#include <optional>
#include <string>

// The application bundle this process runs from: where it lives, its shipped resources and
// its information dictionary (the resources' "Info.plist").
namespace tarpelix::platform::Bundle {

// The main bundle's URL: by default the directory of the running executable, symbolic links
// resolved.
URL bundleURL();

// The path of a resource of the main bundle ("name.extension"), if it exists.
std::optional<std::string> urlForResource(const std::string& name, const std::string& extension);

// The information dictionary; empty when the bundle has none or it cannot be read.
PropertyListValue::Dictionary infoDictionary();
// One entry of it, with its type: a Boolean stays a Boolean, never the number 1 or 0.
std::optional<PropertyListValue> objectForInfoDictionaryKey(const std::string& key);

} // namespace tarpelix::platform::Bundle

namespace tarpelix::platform::BundleControl {

// The directory that holds the main bundle's resources; by default the source tree's
// resources/ folder. Tests point it elsewhere to provide or withhold a resource or an
// information dictionary.
void setResourceDirectory(const std::string& directory);

// Where the main bundle appears to live (the installation gate reads it).
void setBundleURL(const URL& url);

// Back to the default directory and URL (the simulated desktop's reset does this too).
void reset();

} // namespace tarpelix::platform::BundleControl
