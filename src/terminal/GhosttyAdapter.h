#pragma once

#include "terminal/TerminalAdapterBase.h"

#include <string>

namespace tarpelix {

// The Ghostty adapter: captures through the script's "capturetarget" handler and inserts
// through its "inserttext" handler.
class GhosttyAdapter final : public TerminalAdapterBase {
public:
    static inline const std::string bundleID = "com.mitchellh.ghostty";

    GhosttyAdapter() : TerminalAdapterBase({bundleID, "Ghostty", "Ghostty", "AXHelp", "Terminal content area"}) {}

    using TerminalAdapterBase::insert;
    void insert(const std::string& text, const TerminalTarget& target,
                const std::function<void()>& beforeInsertion) override {
        insertWithHandler(text, target, beforeInsertion);
    }
};

} // namespace tarpelix
