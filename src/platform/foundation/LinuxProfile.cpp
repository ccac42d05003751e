#include "platform/foundation/LinuxProfile.h"

#include <algorithm>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace tarpelix::platform::LinuxProfile {

namespace {
bool digitsFollow(std::string_view path, std::string_view prefix) {
    if (path.size() <= prefix.size() || path.substr(0, prefix.size()) != prefix) return false;
    auto rest = path.substr(prefix.size());
    return std::all_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string homeDirectory() {
    const char* home = std::getenv("HOME");
    if (home && *home == '/') return home;
    return passwordDatabaseHome();
}

std::string xdgDirectory(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    if (value && *value == '/') return value;
    return homeDirectory() + fallback;
}
} // namespace

bool isTerminalDevicePath(std::string_view path) {
    return digitsFollow(path, "/dev/ttys") || digitsFollow(path, "/dev/pts/");
}

bool isInspectableTerminalPath(std::string_view path) {
    constexpr std::string_view macPrefix = "/dev/tty";
    if (path.substr(0, macPrefix.size()) == macPrefix && path.substr(5).find('/') == std::string_view::npos)
        return true;
    return digitsFollow(path, "/dev/pts/");
}

namespace {
struct ShellEntry {
    const char* path;
    const char* standsFor;
};
constexpr ShellEntry shellTable[] = {
    {"/bin/zsh", "/bin/zsh"},          {"/bin/bash", "/bin/bash"},         {"/bin/sh", "/bin/sh"},
    {"/usr/bin/zsh", "/bin/zsh"},      {"/usr/bin/bash", "/bin/bash"},     {"/usr/bin/sh", "/bin/sh"},
    {"/usr/bin/dash", "/bin/sh"},
};
} // namespace

const std::vector<std::string>& systemShells() {
    static const std::vector<std::string> shells = [] {
        std::vector<std::string> paths;
        for (const auto& entry : shellTable) paths.emplace_back(entry.path);
        return paths;
    }();
    return shells;
}

bool isSystemShell(std::string_view executablePath) { return !systemShellStandingFor(executablePath).empty(); }

std::string systemShellStandingFor(std::string_view executablePath) {
    for (const auto& entry : shellTable)
        if (executablePath == entry.path) return entry.standsFor;
    return {};
}

const std::vector<std::string>& stockSSHIncludeLines() {
    static const std::vector<std::string> lines = {
        "Include /etc/ssh/ssh_config.d/*",
        "Include /etc/ssh/ssh_config.d/*.conf",
    };
    return lines;
}

std::string tmuxSocketDirectory(uid_t uid) { return "/tmp/tmux-" + std::to_string(uid); }

std::string passwordDatabaseHome() {
    struct passwd entry {};
    struct passwd* result = nullptr;
    std::string buffer(16384, '\0');
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result &&
        result->pw_dir) {
        return result->pw_dir;
    }
    return "/";
}

std::string applicationSupportDirectory() { return xdgDirectory("XDG_DATA_HOME", "/.local/share"); }

std::string userDefaultsDirectory() { return xdgDirectory("XDG_CONFIG_HOME", "/.config"); }

} // namespace tarpelix::platform::LinuxProfile
