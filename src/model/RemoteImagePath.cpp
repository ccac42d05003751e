#include "model/RemoteImagePath.h"

#include "platform/foundation/Text.h"

#include <algorithm>
#include <string>

namespace tarpelix {

namespace {

bool isPathCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '.' ||
           c == '/' || c == '-';
}

} // namespace

std::optional<RemoteImagePathFault> remoteImagePathFault(std::string_view path, const platform::Uuid& id) {
    const std::string suffix = "/.cache/tarpelix/uploads/" + id.uuidString() + ".png";
    if (path.empty() || path.front() != '/' || !path.ends_with(suffix) ||
        !std::all_of(path.begin(), path.end(), isPathCharacter))
        return RemoteImagePathFault::image;

    const auto home = path.substr(0, path.size() - suffix.size());
    if (home.empty()) return RemoteImagePathFault::home;
    for (auto piece : platform::text::split(home.substr(1), '/'))
        if (piece.empty() || piece == "." || piece == "..") return RemoteImagePathFault::home;
    return std::nullopt;
}

} // namespace tarpelix
