#pragma once

#include <exception>
#include <string>

namespace tarpelix {

// The error of process inspection, local tmux routing, the ssh and mosh argument grammar and
// the OpenSSH configuration evaluation: one sentence shown to the user.
class SessionInspectionError : public std::exception {
public:
    explicit SessionInspectionError(std::string reason) : reason(std::move(reason)) {}
    const char* what() const noexcept override { return reason.c_str(); }
    const std::string& localizedDescription() const { return reason; }

    std::string reason;
};

} // namespace tarpelix
