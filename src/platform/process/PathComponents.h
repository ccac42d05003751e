#pragma once

#include <string_view>

namespace tarpelix::platform {

// The last component of a file path, as a path API reports it: trailing slashes are ignored,
// "/" stays "/", and a name without a slash is itself.
inline std::string_view lastPathComponent(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    if (path == "/") return path;
    auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

} // namespace tarpelix::platform
