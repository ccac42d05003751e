#include "session/LocalTmuxClient.h"

#include "platform/foundation/LinuxProfile.h"
#include "platform/foundation/Text.h"
#include "ssh/SessionInspectionError.h"

#include <algorithm>
#include <charconv>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace tarpelix {

namespace {

[[noreturn]] void fail(const std::string& reason) { throw SessionInspectionError(reason); }

bool allDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A sigil followed by one or more ASCII digits ("$0", "@12", "%3").
bool isIdentifier(std::string_view text, char sigil) {
    return text.size() >= 2 && text.front() == sigil && allDigits(text.substr(1));
}

bool allowedFlags(const std::set<std::string>& flags) {
    static const std::set<std::string> allowed = {"attached", "focused", "UTF-8", "ignore-size",
                                                  "no-detach-on-destroy"};
    return flags.count("attached") == 1 &&
           std::all_of(flags.begin(), flags.end(), [](const std::string& flag) { return allowed.count(flag) == 1; });
}

} // namespace

const std::array<std::string, 13>& LocalTmuxClient::fields() {
    static const std::array<std::string, 13> names = {
        "client_pid",       "client_tty", "session_id",          "window_id",         "pane_id",
        "pane_tty",         "pane_in_mode", "client_key_table",  "client_prefix",     "client_control_mode",
        "synchronize-panes", "client_flags", "client_readonly",
    };
    return names;
}

const std::string& LocalTmuxClient::format() {
    static const std::string text = [] {
        std::string joined;
        for (const auto& name : fields()) {
            if (!joined.empty()) joined += '\t';
            joined += "#{" + name + "}";
        }
        return joined;
    }();
    return text;
}

std::vector<LocalTmuxClient> LocalTmuxClient::parse(const platform::Bytes& data) {
    std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
    if (!platform::text::isValidUTF8(text)) fail("Invalid tmux query encoding");
    const auto& names = fields();
    std::vector<LocalTmuxClient> clients;
    for (auto line : platform::text::split(text, '\n')) {
        if (line.empty()) continue;
        auto values = platform::text::split(line, '\t');
        if (values.size() != names.size())
            fail("Incomplete tmux client query row: expected " + std::to_string(names.size()) + " fields, received " +
                 std::to_string(values.size()));
        for (std::size_t i = 0; i < names.size(); ++i)
            if (values[i].empty()) fail("Missing tmux field: " + names[i]);

        LocalTmuxClient client;
        auto pidText = values[0];
        auto parsed = std::from_chars(pidText.data(), pidText.data() + pidText.size(), client.pid);
        if (parsed.ec != std::errc() || parsed.ptr != pidText.data() + pidText.size() || client.pid < 1)
            fail("Invalid tmux client PID");
        if (!platform::LinuxProfile::isTerminalDevicePath(values[1]) ||
            !platform::LinuxProfile::isTerminalDevicePath(values[5]))
            fail("Unsupported tmux client or pane TTY");
        if (!isIdentifier(values[2], '$') || !isIdentifier(values[3], '@') || !isIdentifier(values[4], '%'))
            fail("Invalid tmux session, window, or pane ID");
        auto mode = values[6];
        auto modeParsed = std::from_chars(mode.data(), mode.data() + mode.size(), client.modeCount);
        if (!allDigits(mode) || modeParsed.ec != std::errc()) fail("Invalid tmux field: pane_in_mode");
        for (std::size_t index : {8u, 9u, 10u, 12u}) {
            if (values[index] != "0" && values[index] != "1") fail("Invalid tmux field: " + names[index]);
        }
        for (auto flag : platform::text::split(values[11], ',')) {
            if (flag.empty() || !client.flags.insert(std::string(flag)).second) fail("Invalid tmux field: client_flags");
        }
        client.tty = values[1];
        client.sessionID = values[2];
        client.windowID = values[3];
        client.paneID = values[4];
        client.paneTTY = values[5];
        client.keyTable = values[7];
        client.prefix = values[8] == "1";
        client.control = values[9] == "1";
        client.synchronized = values[10] == "1";
        client.readonly = values[12] == "1";
        clients.push_back(std::move(client));
    }
    return clients;
}

void LocalTmuxClient::requireOrdinaryInput() const {
    if (modeCount != 0 || keyTable != "root" || prefix || control || synchronized || readonly || !allowedFlags(flags))
        fail("tmux copy/command key mode, synchronized input, or unsupported client mode — skip paste");
}

void LocalTmuxClient::requireReplayableInput() const {
    if (control || synchronized || readonly || !allowedFlags(flags))
        fail("tmux synchronized input or unsupported client mode — skip paste");
}

LocalTmuxSocket LocalTmuxSocket::inspect(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0 || (status.st_mode & S_IFMT) != S_IFSOCK || status.st_uid != ::getuid())
        fail("tmux socket missing, replaced, or not owned by this user");
    return LocalTmuxSocket{path, status.st_dev, static_cast<std::uint64_t>(status.st_ino)};
}

bool LocalTmuxTarget::matches(const LocalTmuxTarget& other) const {
    return terminalTTY == other.terminalTTY && process == other.process && socket == other.socket &&
           client.pid == other.client.pid && client.tty == other.client.tty &&
           client.sessionID == other.client.sessionID && client.windowID == other.client.windowID &&
           client.paneID == other.client.paneID && client.paneTTY == other.client.paneTTY;
}

} // namespace tarpelix
