#pragma once

#include <exception>
#include <string>

namespace tarpelix {

// The one error of the paste road: a complete sentence shown to the user unchanged.
class TerminalUnavailable : public std::exception {
public:
    explicit TerminalUnavailable(std::string reason) : reason(std::move(reason)) {}
    const char* what() const noexcept override { return reason.c_str(); }
    const std::string& localizedDescription() const { return reason; }

    std::string reason;
};

} // namespace tarpelix
