#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

// The few facts of macOS that have a different form on Linux, kept in one place.
namespace tarpelix::platform::LinuxProfile {

// A terminal device path: the macOS pane form "/dev/ttys" followed by digits, or a Linux
// pseudo-terminal "/dev/pts/" followed by digits. Every check of a TTY path asks this.
bool isTerminalDevicePath(std::string_view path);

// A terminal path that process inspection accepts: the macOS form ("/dev/tty" with no
// further "/" after "/dev/") or a Linux pseudo-terminal "/dev/pts/" followed by digits.
bool isInspectableTerminalPath(std::string_view path);

// The system shells: the macOS list ("/bin/zsh", "/bin/bash", "/bin/sh") plus the paths
// Debian's merged /usr shows them under ("/bin/sh" runs as "/usr/bin/dash").
const std::vector<std::string>& systemShells();
bool isSystemShell(std::string_view executablePath);
// The macOS shell path a system shell stands for ("/usr/bin/dash" -> "/bin/sh"); empty when
// the path is not a system shell.
std::string systemShellStandingFor(std::string_view executablePath);

// Include lines of the stock OpenSSH client configuration that do not switch caching off.
const std::vector<std::string>& stockSSHIncludeLines();

// tmux's private socket directory: "/tmp/tmux-" followed by the uid (TMUX_TMPDIR is not honoured).
std::string tmuxSocketDirectory(uid_t uid);

// The home directory from the password database, which ssh reads (it ignores $HOME).
std::string passwordDatabaseHome();

// The Application Support directory: $XDG_DATA_HOME or ~/.local/share.
std::string applicationSupportDirectory();

// The directory of the application's user-defaults file: $XDG_CONFIG_HOME or ~/.config.
std::string userDefaultsDirectory();

} // namespace tarpelix::platform::LinuxProfile
