#pragma once

#include "ssh/SessionInspectionError.h"
#include "model/TerminalUnavailable.h"

#include <functional>
#include <string>

namespace tarpelix::testing {

// What `work` throws, as text: the reason of the paste road's errors (TerminalUnavailable,
// SessionInspectionError), "other: " and the message for any other exception, and "" when
// it returns.
inline std::string failureOf(const std::function<void()>& work) {
    try {
        work();
        return "";
    } catch (const SessionInspectionError& error) {
        return error.reason;
    } catch (const TerminalUnavailable& error) {
        return error.reason;
    } catch (const std::exception& error) {
        return std::string("other: ") + error.what();
    }
}

} // namespace tarpelix::testing
