#pragma once

#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Bytes.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tarpelix {

// Whether an installed Ghostty offers, in its scripting dictionary, every scripting term the
// Ghostty adapter's script needs. Checks run one at a time on a queue of their own; the last
// parsed dictionary is remembered with its result.
class GhosttyCompatibility final {
public:
    enum class Status { checking, supported, updateRequired, unavailable };

    static const std::string bundleID;
    // Ghostty's documentation page on installing prerelease builds.
    static const std::string& prereleaseURL();
    // The largest dictionary file that is read.
    static constexpr std::size_t dictionaryLimit = 1'048'576;

    GhosttyCompatibility();

    // Checks the application bundle at `applicationURL` (a path); the completion gets the
    // result later, once, on the main queue. Callable from any thread.
    void check(const std::string& applicationURL, std::function<void(Status)> completion);

    // The result for a dictionary file's bytes: supported, updateRequired or unavailable.
    static Status inspect(const platform::Bytes& data);

private:
    struct Cached {
        std::string url;
        platform::Bytes data;
        Status status;
    };
    std::shared_ptr<platform::DispatchQueue> queue_;
    std::shared_ptr<std::optional<Cached>> cached_; // touched only on queue_
};

} // namespace tarpelix
