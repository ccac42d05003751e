#pragma once

#include "terminal/TerminalTarget.h"

#include <functional>
#include <string>

namespace tarpelix {

// A terminal adapter: captures the focused pane, checks later that a captured pane is still
// the same, and inserts text into it. Main thread only; every failure is TerminalUnavailable
// (an error the callback throws passes through unchanged). Each adapter type also has a
// static `bundleID`.
class TerminalAdapter {
public:
    virtual ~TerminalAdapter() = default;

    virtual TerminalTarget captureTarget() = 0;
    virtual void validateTarget(const TerminalTarget& target) = 0;
    virtual void insert(const std::string& text, const TerminalTarget& target) = 0;
    // `beforeInsertion` is called only during the call, as the last check before typing.
    virtual void insert(const std::string& text, const TerminalTarget& target,
                        const std::function<void()>& beforeInsertion) = 0;
};

} // namespace tarpelix
