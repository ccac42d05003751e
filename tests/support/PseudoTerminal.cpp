#include "support/PseudoTerminal.h"

#include "support/Eventually.h"

#include <cstdlib>
#include <stdexcept>

namespace tarpelix::testing {

namespace {
platform::PseudoTerminalSession::Options sessionOptions(PseudoTerminal::Options options) {
    platform::PseudoTerminalSession::Options session;
    session.executable = std::move(options.executable);
    session.arguments = std::move(options.arguments);
    session.environment =
        options.environment.empty() ? PseudoTerminal::defaultEnvironment() : std::move(options.environment);
    return session;
}
} // namespace

PseudoTerminal::PseudoTerminal(Options options) : PseudoTerminalSession(sessionOptions(std::move(options))) {}

PseudoTerminal::PseudoTerminal(const std::string& executable, std::vector<std::string> furtherArguments)
    : PseudoTerminal([&] {
          Options options;
          options.executable = executable;
          options.arguments.push_back(executable);
          for (auto& argument : furtherArguments) options.arguments.push_back(std::move(argument));
          return options;
      }()) {}

std::vector<std::string> PseudoTerminal::defaultEnvironment() {
    std::vector<std::string> environment = {"PATH=/usr/local/bin:/usr/bin:/bin", "TERM=dumb", "LANG=C.UTF-8"};
    if (const char* home = std::getenv("HOME")) environment.push_back(std::string("HOME=") + home);
    return environment;
}

void PseudoTerminal::type(std::string_view text) {
    if (!write(text)) throw std::runtime_error("cannot write to the terminal");
}

bool PseudoTerminal::waitForForegroundJob(double timeoutSeconds) const {
    return waitUntil([&] {
        pid_t group = foregroundGroup();
        return group > 0 && group != pid();
    }, timeoutSeconds);
}

} // namespace tarpelix::testing
