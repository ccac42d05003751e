#pragma once

#include "platform/desktop/InputEvents.h"
#include "terminal/TerminalAdapterBase.h"

#include <string>
#include <utility>
#include <vector>

namespace tarpelix {

// The Terminal.app adapter: captures through the script's "capturetarget" handler and types
// text by posting marked keyboard events, at most 20 UTF-16 units each, to Terminal's process.
class TerminalAppAdapter final : public TerminalAdapterBase {
public:
    static inline const std::string bundleID = "com.apple.Terminal";
    static constexpr std::size_t chunkLimit = 20; // UTF-16 units per key event pair

    using KeyEventPair = std::pair<platform::EventRef, platform::EventRef>; // key down, key up

    TerminalAppAdapter() : TerminalAdapterBase({bundleID, "Terminal", "Terminal", "AXDescription", "shell"}) {}

    // The key event pairs that type the text, in order; throws TerminalUnavailable.
    static std::vector<KeyEventPair> inputEvents(const std::string& text);

    using TerminalAdapterBase::insert;
    void insert(const std::string& text, const TerminalTarget& target,
                const std::function<void()>& beforeInsertion) override;
};

} // namespace tarpelix
