#pragma once

#include <functional>
#include <optional>
#include <string>

namespace tarpelix {

// The one-shot request that makes the system ask for clipboard access.
namespace ClipboardPermissionSetup {

enum class Result {
    allowed,
    needsSettings,
    empty, // nothing on the clipboard to read, so nothing to ask about
};

// `access` gives the pasteboard's access behaviour as its raw value, `firstType` the first
// type on the clipboard, `read` reads (and discards) the clipboard's data for a type, which
// may raise the system's prompt. Blocks while that prompt is showing: run it off the main
// thread.
Result request(const std::function<int()>& access,
               const std::function<std::optional<std::string>()>& firstType,
               const std::function<void(const std::string&)>& read);

} // namespace ClipboardPermissionSetup

} // namespace tarpelix
