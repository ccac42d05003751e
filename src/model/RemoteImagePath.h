#pragma once

#include "platform/foundation/Uuid.h"

#include <optional>
#include <string_view>

namespace tarpelix {

// What is wrong with a remote image path, in the order the upload marker's path is checked.
enum class RemoteImagePathFault {
    image, // not absolute, a character outside [A-Za-z0-9_./-], or not ending in the upload's file name
    home,  // the home folder before "/.cache/tarpelix/uploads/" is empty or has an empty, "." or ".." piece
};

// The one rule for the path an upload confirms and a stored record offers: an absolute path of
// the 66 allowed characters ending in "/.cache/tarpelix/uploads/<UUID>.png" for that upload's
// identifier, under a home of plain pieces.
std::optional<RemoteImagePathFault> remoteImagePathFault(std::string_view path, const platform::Uuid& id);

inline bool isValidRemoteImagePath(std::string_view path, const platform::Uuid& id) {
    return !remoteImagePathFault(path, id).has_value();
}

} // namespace tarpelix
