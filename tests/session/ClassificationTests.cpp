#include "session/SSHSessionResolver.h"

#include <gtest/gtest.h>

using namespace tarpelix;

namespace {

constexpr dev_t device = 34817;
constexpr std::int32_t group = 500;

TerminalProcess process(std::int32_t pid, std::string executable, std::vector<std::string> arguments) {
    return TerminalProcess{{pid, 1000, static_cast<std::uint64_t>(pid)}, device, group, std::move(executable),
                           std::move(arguments)};
}

ForegroundSnapshot snapshotOf(std::vector<TerminalProcess> processes) {
    return ForegroundSnapshot{"/dev/pts/1", device, group, std::move(processes)};
}

// The case name and, for texts, the text of a classification.
std::string describe(const ForegroundSession& session) {
    return std::visit(
        [](const auto& value) -> std::string {
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, ForegroundSession::SSH>) return "ssh " + value.process.destination.original;
            if constexpr (std::is_same_v<T, ForegroundSession::LocalShell>) return "localShell";
            if constexpr (std::is_same_v<T, ForegroundSession::LocalApplication>) return "localApplication";
            if constexpr (std::is_same_v<T, ForegroundSession::LocalTmux>) return "localTmux";
            if constexpr (std::is_same_v<T, ForegroundSession::Unsupported>) return "unsupported: " + value.text;
            if constexpr (std::is_same_v<T, ForegroundSession::Unresolved>) return "unresolved: " + value.text;
        },
        session.value);
}

const std::string notSupported = "unsupported: " + SSHSessionResolver::unsupportedJobReason;

} // namespace

TEST(Classification, SingleProcessJobs) {
    struct Case {
        std::string executable;
        std::vector<std::string> arguments;
        std::string expected;
    };
    const std::vector<Case> cases = {
        // Interactive and login system shells, under their macOS and merged-/usr paths.
        {"/bin/zsh", {"-zsh"}, "localShell"},
        {"/bin/zsh", {"zsh", "-l", "-i"}, "localShell"},
        {"/bin/zsh", {"/bin/zsh", "--login"}, "localShell"},
        {"/bin/zsh", {"-/bin/zsh", "-il"}, "localShell"},
        {"/bin/bash", {"sh"}, "localShell"},
        {"/bin/bash", {"-sh", "-li"}, "localShell"},
        {"/bin/bash", {"-/bin/sh"}, "localShell"},
        {"/usr/bin/bash", {"-bash"}, "localShell"},
        {"/usr/bin/bash", {"bash", "--interactive"}, "localShell"},
        {"/usr/bin/bash", {"sh"}, "localShell"},
        {"/usr/bin/dash", {"sh", "-i"}, "localShell"},
        {"/usr/bin/dash", {"-sh"}, "localShell"},
        {"/usr/bin/dash", {"/bin/sh"}, "localShell"},
        {"/usr/bin/dash", {"dash"}, "localShell"},
        {"/usr/bin/zsh", {"-zsh"}, "localShell"},
        // Shells running scripts or commands, or under a foreign name, are not served.
        {"/bin/zsh", {"zsh", "script.zsh"}, notSupported},
        {"/bin/bash", {"bash", "-c", "sleep 1"}, notSupported},
        {"/usr/bin/bash", {"bash", "-i", "x"}, notSupported},
        {"/bin/zsh", {"sh"}, notSupported},
        {"/usr/bin/dash", {"bash"}, notSupported},
        {"/bin/zsh", {}, notSupported},
        // A shell outside the table is an ordinary program.
        {"/opt/homebrew/bin/zsh", {"-zsh"}, "localApplication"},
        {"/usr/local/bin/fish", {"-fish"}, "localApplication"},
        // Transports and multiplexers.
        {"/usr/bin/ssh", {"ssh", "host"}, "ssh host"},
        {"/usr/bin/ssh", {"/usr/bin/ssh", "user@host"}, "ssh user@host"},
        {"/usr/local/bin/ssh", {"ssh", "host"}, notSupported},
        {"/usr/bin/ssh", {"ssh", "-v", "host"},
         "unsupported: Supported SSH forms: ssh alias or ssh user@host; put options in SSH config"},
        {"/usr/bin/ssh", {"ssh", "-v"}, "unsupported: Unsupported SSH destination syntax"},
        {"/usr/local/bin/mosh-client", {"mosh-client", "-# user@host |", "127.0.0.1", "60001"}, "ssh user@host"},
        {"/usr/local/bin/mosh-client", {"mosh-client", "-# host |", "example.com", "60001"},
         "unsupported: Unsupported mosh launcher address"},
        {"/usr/bin/mosh", {"mosh", "host"}, notSupported},
        {"/usr/bin/mosh-server", {"mosh-server"}, notSupported},
        {"/usr/bin/screen", {"screen"}, notSupported},
        {"/usr/bin/tmux", {"tmux"}, "localTmux"},
        {"/opt/tmux", {"anything"}, "localTmux"},
        {"/usr/bin/vim", {"vim", "notes"}, "localApplication"},
    };
    for (const auto& c : cases) {
        auto session = SSHSessionResolver::classify(snapshotOf({process(10, c.executable, c.arguments)}));
        EXPECT_EQ(describe(session), c.expected) << c.executable << " " << ::testing::PrintToString(c.arguments);
    }
}

TEST(Classification, GroupsAndIncompleteInformation) {
    auto sleep = process(20, "/usr/bin/sleep", {"sleep", "1"});
    auto cat = process(12, "/usr/bin/cat", {"cat"});
    auto ssh = process(30, "/usr/bin/ssh", {"ssh", "host"});

    auto pipeline = SSHSessionResolver::classify(snapshotOf({sleep, cat}));
    auto local = pipeline.as<ForegroundSession::LocalApplication>();
    ASSERT_NE(local, nullptr);
    ASSERT_EQ(local->session.processes.size(), 2u);
    EXPECT_EQ(local->session.processes[0], cat) << "sorted by pid";
    EXPECT_EQ(local->session.processes[1], sleep);
    EXPECT_EQ(local->session.tty, "/dev/pts/1");
    EXPECT_EQ(local->session.foregroundGroup, group);

    EXPECT_EQ(describe(SSHSessionResolver::classify(snapshotOf({ssh, cat}))),
              "unresolved: Ambiguous foreground transport, multiplexer, or shell process group");

    auto relative = process(40, "sleep", {"sleep"});
    auto noArguments = process(41, "/usr/bin/sleep", {});
    auto duplicate = sleep;
    duplicate.executable = "/usr/bin/true";
    for (const auto& processes : {std::vector<TerminalProcess>{relative}, std::vector<TerminalProcess>{noArguments},
                                  std::vector<TerminalProcess>{sleep, duplicate}}) {
        EXPECT_EQ(describe(SSHSessionResolver::classify(snapshotOf(processes))),
                  "unresolved: Incomplete or ambiguous local foreground process information");
    }

    auto snapshot = snapshotOf({sleep});
    snapshot.foregroundGroup = 0;
    EXPECT_EQ(describe(SSHSessionResolver::classify(snapshot)), "unresolved: No foreground process group");
    // Records of another device or group are not the foreground job.
    auto elsewhere = sleep;
    elsewhere.ttyDevice = device + 1;
    auto background = cat;
    background.processGroup = group + 1;
    EXPECT_EQ(describe(SSHSessionResolver::classify(snapshotOf({elsewhere, background}))),
              "unresolved: No foreground process on the captured TTY");
    EXPECT_EQ(describe(SSHSessionResolver::classify(snapshotOf({background, ssh}))), "ssh host");
}

TEST(Classification, MatchesComparesTheWholeProcess) {
    auto ssh = process(30, "/usr/bin/ssh", {"ssh", "host"});
    auto session = SSHSessionResolver::classify(snapshotOf({ssh}));
    ASSERT_NE(session.as<ForegroundSession::SSH>(), nullptr);
    const auto& expected = session.as<ForegroundSession::SSH>()->process;
    EXPECT_TRUE(SSHSessionResolver::matches(expected, snapshotOf({ssh})));

    auto reconnected = ssh;
    reconnected.identity.startMicroseconds += 1;
    EXPECT_FALSE(SSHSessionResolver::matches(expected, snapshotOf({reconnected})));
    auto other = process(30, "/usr/bin/ssh", {"ssh", "other"});
    EXPECT_FALSE(SSHSessionResolver::matches(expected, snapshotOf({other})));
    EXPECT_FALSE(SSHSessionResolver::matches(expected, snapshotOf({process(30, "/usr/bin/vim", {"vim"})})));

    auto vim = process(50, "/usr/bin/vim", {"vim"});
    auto local = SSHSessionResolver::classify(snapshotOf({vim})).as<ForegroundSession::LocalApplication>()->session;
    EXPECT_TRUE(SSHSessionResolver::matches(local, snapshotOf({vim})));
    auto edited = vim;
    edited.arguments.push_back("file");
    EXPECT_FALSE(SSHSessionResolver::matches(local, snapshotOf({edited})));
    EXPECT_FALSE(SSHSessionResolver::matches(local, snapshotOf({vim, process(51, "/usr/bin/cat", {"cat"})})));
}
