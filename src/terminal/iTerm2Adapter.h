#pragma once

#include "terminal/TerminalAdapterBase.h"

#include <string>

namespace tarpelix {

// The iTerm2 adapter: captures through the script's "capturetarget" handler and inserts
// through its "inserttext" handler.
class iTerm2Adapter final : public TerminalAdapterBase {
public:
    static inline const std::string bundleID = "com.googlecode.iterm2";

    iTerm2Adapter() : TerminalAdapterBase({bundleID, "iTerm2", "iTerm2", "AXDescription", "shell"}) {}

    using TerminalAdapterBase::insert;
    void insert(const std::string& text, const TerminalTarget& target,
                const std::function<void()>& beforeInsertion) override {
        insertWithHandler(text, target, beforeInsertion);
    }
};

} // namespace tarpelix
