#include "ssh/SSHDestination.h"

#include "platform/process/PathComponents.h"
#include "ssh/SessionInspectionError.h"

#include <arpa/inet.h>
#include <string_view>

namespace tarpelix {

namespace {

bool isDestinationCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
}

// One piece of user@host: non-empty, no leading "-", only the 65 allowed characters. A byte
// outside ASCII never matches, so no character made of several scalars can pass.
bool isValidPiece(std::string_view piece) {
    if (piece.empty() || piece.front() == '-') return false;
    for (char c : piece)
        if (!isDestinationCharacter(c)) return false;
    return true;
}

bool isValidDestination(std::string_view destination) {
    auto at = destination.find('@');
    if (at == std::string_view::npos) return isValidPiece(destination);
    auto host = destination.substr(at + 1);
    if (host.find('@') != std::string_view::npos) return false;
    return isValidPiece(destination.substr(0, at)) && isValidPiece(host);
}

bool isValidPort(std::string_view port) {
    if (port.empty()) return false;
    unsigned long value = 0;
    for (char c : port) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned long>(c - '0');
        if (value > 65535) return false;
    }
    return value != 0;
}

bool isNumericAddress(const std::string& address) {
    unsigned char buffer[16];
    return inet_pton(AF_INET, address.c_str(), buffer) == 1 || inet_pton(AF_INET6, address.c_str(), buffer) == 1;
}

} // namespace

SSHDestination::SSHDestination(const std::vector<std::string>& arguments) {
    if (arguments.size() != 2 || (arguments[0] != "ssh" && arguments[0] != "/usr/bin/ssh"))
        throw SessionInspectionError(unsupportedFormsReason);
    if (!isValidDestination(arguments[1])) throw SessionInspectionError(unsupportedSyntaxReason);
    original = arguments[1];
}

SSHDestination SSHDestination::mosh(const std::vector<std::string>& arguments) {
    if (arguments.size() != 4 || platform::lastPathComponent(arguments[0]) != "mosh-client")
        throw SessionInspectionError(unsupportedMoshFormsReason);
    std::string_view display = arguments[1];
    if (display.substr(0, 3) != "-# " || display.size() < 2 || display.substr(display.size() - 2) != " |")
        throw SessionInspectionError(unsupportedMoshFormsReason);
    if (!isValidPort(arguments[3])) throw SessionInspectionError(unsupportedMoshFormsReason);
    if (!isNumericAddress(arguments[2])) throw SessionInspectionError(unsupportedMoshAddressReason);
    // The prefix and the suffix may overlap ("-# |"): then nothing is embedded.
    std::string embedded = display.size() >= 5 ? std::string(display.substr(3, display.size() - 5)) : std::string();
    return SSHDestination(std::vector<std::string>{"ssh", embedded});
}

} // namespace tarpelix
