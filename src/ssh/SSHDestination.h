#pragma once

#include "ssh/TerminalProcess.h"

#include <string>
#include <vector>

namespace tarpelix {

// A destination exactly as the user typed it: a bare host alias or user@host. Every other
// option must live in the OpenSSH configuration, where `ssh -G` finds it again.
struct SSHDestination {
    std::string original;

    // Accepts an ssh argument vector (element 0 is the program) of exactly "ssh" or
    // "/usr/bin/ssh" and one destination; throws SessionInspectionError otherwise.
    explicit SSHDestination(const std::vector<std::string>& arguments);
    // Accepts the argument vector the mosh launcher gives mosh-client and returns the
    // destination embedded in its display string; throws SessionInspectionError otherwise.
    static SSHDestination mosh(const std::vector<std::string>& arguments);

    bool operator==(const SSHDestination&) const = default;

    static inline const std::string unsupportedFormsReason =
        "Supported SSH forms: ssh alias or ssh user@host; put options in SSH config";
    static inline const std::string unsupportedSyntaxReason = "Unsupported SSH destination syntax";
    static inline const std::string unsupportedMoshFormsReason = "Supported mosh forms: mosh alias or mosh user@host";
    static inline const std::string unsupportedMoshAddressReason = "Unsupported mosh launcher address";
};

// A destination bound to the TTY and the process it came from.
struct SSHProcess {
    std::string tty;
    TerminalProcess process;
    SSHDestination destination;

    SSHProcess(std::string tty, TerminalProcess process, SSHDestination destination)
        : tty(std::move(tty)), process(std::move(process)), destination(std::move(destination)) {}
    bool operator==(const SSHProcess&) const = default;
};

} // namespace tarpelix
