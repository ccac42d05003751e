#include "SessionTestSupport.h"
#include "model/PasteOperation.h"
#include "session/LocalTmuxResolver.h"
#include "session/SSHSessionResolver.h"
#include "support/Eventually.h"
#include "support/Failures.h"
#include "support/PrivateNamespace.h"
#include "support/Processes.h"
#include "support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace tarpelix;
using namespace tarpelix::testing;

namespace {

const std::string ordinaryText =
    "tmux copy/command key mode, synchronized input, or unsupported client mode — skip paste";
const std::string replayableText = "tmux synchronized input or unsupported client mode — skip paste";
const std::string noClientText = "No unique attached tmux client matches the foreground PID and TTY";

// The tmux client in the terminal's foreground.
TerminalProcess tmuxClientOn(const std::string& tty) {
    auto tmux = classifiedAs<ForegroundSession::LocalTmux>(tty);
    if (!tmux) throw std::runtime_error("no tmux client in the foreground of " + tty);
    return tmux->process;
}

bool queryRunningFor(const std::string& socket) {
    for (pid_t pid : otherProcessesInNamespace()) {
        auto arguments = readFile("/proc/" + std::to_string(pid) + "/cmdline");
        if (arguments.find("list-clients") != std::string::npos && arguments.find(socket) != std::string::npos)
            return true;
    }
    return false;
}

class LocalTmux : public ::testing::Test {
protected:
    void SetUp() override {
        TARPELIX_REQUIRE_PRIVATE_NAMESPACE();
        LocalTmuxResolver::clearCachedRoute();
        directory = emptyTmuxDirectory();
    }
    std::string directory;
    LocalTmuxResolver resolver;
};

} // namespace

TEST(LocalTmuxClientRows, ParseTheListClientsAnswer) {
    auto parse = [](const std::string& text) { return LocalTmuxClient::parse(platform::Bytes(text.begin(), text.end())); };
    // A valid row with one field replaced.
    auto replace = [](std::size_t field, const std::string& value) {
        std::vector<std::string> values = {"5427", "/dev/pts/1", "$0", "@0", "%0", "/dev/pts/0", "0",
                                           "root", "0", "0", "0", "attached,focused,UTF-8", "0"};
        values[field] = value;
        std::string line = values[0];
        for (std::size_t i = 1; i < values.size(); ++i) line += "\t" + values[i];
        return line;
    };
    const std::string row = replace(0, "5427");
    auto clients = parse(row + "\n\n" + row + "\n");
    ASSERT_EQ(clients.size(), 2u);
    EXPECT_EQ(clients[0].pid, 5427);
    EXPECT_EQ(clients[0].tty, "/dev/pts/1");
    EXPECT_EQ(clients[0].paneTTY, "/dev/pts/0");
    EXPECT_EQ(clients[0].flags, (std::set<std::string>{"attached", "focused", "UTF-8"}));
    EXPECT_NO_THROW(clients[0].requireOrdinaryInput());
    EXPECT_TRUE(parse("").empty());

    const std::vector<std::pair<std::string, std::string>> cases = {
        {row.substr(0, row.rfind('\t')), "Incomplete tmux client query row: expected 13 fields, received 12"},
        {row + "\t0", "Incomplete tmux client query row: expected 13 fields, received 14"},
        {replace(7, ""), "Missing tmux field: client_key_table"},
        {replace(0, ""), "Missing tmux field: client_pid"},
        {replace(0, "0"), "Invalid tmux client PID"},
        {replace(0, "99999999999"), "Invalid tmux client PID"},
        {replace(0, "12x"), "Invalid tmux client PID"},
        {replace(1, "/dev/tty1"), "Unsupported tmux client or pane TTY"},
        {replace(5, "/dev/pts/../0"), "Unsupported tmux client or pane TTY"},
        {replace(1, "/dev/ttys003"), ""},
        {replace(2, "0"), "Invalid tmux session, window, or pane ID"},
        {replace(3, "@"), "Invalid tmux session, window, or pane ID"},
        {replace(4, "%1a"), "Invalid tmux session, window, or pane ID"},
        {replace(6, "x"), "Invalid tmux field: pane_in_mode"},
        {replace(6, "-1"), "Invalid tmux field: pane_in_mode"},
        {replace(8, "2"), "Invalid tmux field: client_prefix"},
        {replace(9, "true"), "Invalid tmux field: client_control_mode"},
        {replace(10, "01"), "Invalid tmux field: synchronize-panes"},
        {replace(12, "yes"), "Invalid tmux field: client_readonly"},
        {replace(11, "attached,"), "Invalid tmux field: client_flags"},
        {replace(11, "attached,attached"), "Invalid tmux field: client_flags"},
        {"\xff\xfe", "Invalid tmux query encoding"},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(failureOf([&] { parse(text); }), expected) << text;
}

TEST(LocalTmuxClientRows, InputStatesDecideTypedOrReplayedPaste) {
    LocalTmuxClient base;
    base.pid = 1;
    base.keyTable = "root";
    base.flags = {"attached", "focused"};
    struct Case {
        const char* name;
        std::function<void(LocalTmuxClient&)> change;
        bool ordinary;
        bool replayable;
    };
    const std::vector<Case> cases = {
        {"normal", [](auto&) {}, true, true},
        {"all allowed flags", [](auto& c) { c.flags = {"attached", "focused", "UTF-8", "ignore-size", "no-detach-on-destroy"}; }, true, true},
        {"copy mode", [](auto& c) { c.modeCount = 1; }, false, true},
        {"prefix table", [](auto& c) { c.keyTable = "prefix"; }, false, true},
        {"prefix pressed", [](auto& c) { c.prefix = true; }, false, true},
        {"control mode", [](auto& c) { c.control = true; }, false, false},
        {"synchronized panes", [](auto& c) { c.synchronized = true; c.modeCount = 1; }, false, false},
        {"read-only", [](auto& c) { c.readonly = true; }, false, false},
        {"detached", [](auto& c) { c.flags = {"focused"}; }, false, false},
        {"unknown flag", [](auto& c) { c.flags.insert("control-mode"); }, false, false},
    };
    for (const auto& c : cases) {
        auto client = base;
        c.change(client);
        EXPECT_EQ(failureOf([&] { client.requireOrdinaryInput(); }), c.ordinary ? "" : ordinaryText) << c.name;
        EXPECT_EQ(failureOf([&] { client.requireReplayableInput(); }), c.replayable ? "" : replayableText) << c.name;
    }
}

TEST(LocalTmuxClientRows, SelectNeedsExactlyOneClientOfThisProcessAndTTY) {
    LocalTmuxTarget target;
    target.terminalTTY = "/dev/pts/3";
    target.process.identity.pid = 40;
    target.client.pid = 40;
    target.client.tty = "/dev/pts/3";
    target.client.keyTable = "root";
    target.client.flags = {"attached"};
    auto otherTTY = target;
    otherTTY.client.tty = "/dev/pts/4";
    auto otherPid = target;
    otherPid.client.pid = 41;
    EXPECT_EQ(LocalTmuxResolver::select({otherTTY, target, otherPid}, true), target);
    EXPECT_EQ(failureOf([&] { LocalTmuxResolver::select({target, target}, false); }), noClientText);
    EXPECT_EQ(failureOf([&] { LocalTmuxResolver::select({}, false); }), noClientText);
    auto copyMode = target;
    copyMode.client.modeCount = 1;
    EXPECT_EQ(failureOf([&] { LocalTmuxResolver::select({copyMode}, true); }), ordinaryText);
    EXPECT_EQ(LocalTmuxResolver::select({copyMode}, false), copyMode);
    EXPECT_TRUE(copyMode.matches(target)) << "mode fields are not compared";
    EXPECT_FALSE(otherTTY.matches(target));

    auto arguments = LocalTmuxResolver::queryArguments("/tmp/tmux-0/default");
    EXPECT_EQ(arguments, (std::vector<std::string>{"-u", "-N", "-S", "/tmp/tmux-0/default", "list-clients", "-F",
                                                   LocalTmuxClient::format()}));
    EXPECT_EQ(LocalTmuxClient::format().substr(0, 26), "#{client_pid}\t#{client_tty");
}

TEST_F(LocalTmux, FollowsAnAttachedClientToItsPaneAndTheJobThere) {
    TmuxServer server("default");
    auto client = server.attach();
    auto process = tmuxClientOn(client->tty());
    auto operation = PasteOperation::create();
    auto target = resolver.resolve(client->tty(), process, false, operation);
    EXPECT_EQ(target.terminalTTY, client->tty());
    EXPECT_EQ(target.process, process);
    EXPECT_EQ(target.socket.path, server.socket());
    EXPECT_EQ(target.client.pid, client->pid());
    EXPECT_EQ(target.client.tty, client->tty());
    EXPECT_EQ(target.client.sessionID, "$0");
    EXPECT_EQ(target.client.paneID, server.tmux({"display-message", "-p", "-t", "main", "#{pane_id}"}).output.substr(0, 2));
    auto paneTTY = server.tmux({"display-message", "-p", "-t", "main", "#{pane_tty}"}).output;
    EXPECT_EQ(target.client.paneTTY + "\n", paneTTY);
    EXPECT_NO_THROW(target.client.requireOrdinaryInput());
    EXPECT_NO_THROW(resolver.revalidate(target, operation));

    // The pane runs the server's login shell.
    auto shell = classifiedAs<ForegroundSession::LocalShell>(target.client.paneTTY);
    ASSERT_TRUE(shell.has_value());
    EXPECT_EQ(shell->process.executable, "/usr/bin/bash");

    // A process that is not the terminal's tmux client is refused.
    auto impostor = process;
    impostor.identity.startMicroseconds += 1;
    EXPECT_EQ(failureOf([&] { resolver.resolve(client->tty(), impostor, false, operation); }),
              "Foreground tmux client detached, changed, or was replaced");
}

TEST_F(LocalTmux, CopyModeAndThePrefixKeyGiveOnlyAReplayedPaste) {
    TmuxServer server("default");
    auto client = server.attach();
    auto process = tmuxClientOn(client->tty());

    server.tmux({"copy-mode", "-t", "main"});
    ASSERT_TRUE(waitUntil([&] { return server.clientField(client->tty(), "#{pane_in_mode}") == "1"; }));
    EXPECT_EQ(failureOf([&] { resolver.resolve(client->tty(), process, true, nullptr); }), ordinaryText);
    auto target = resolver.resolve(client->tty(), process, false, nullptr);
    EXPECT_EQ(target.client.modeCount, 1u);
    EXPECT_NO_THROW(target.client.requireReplayableInput());
    EXPECT_EQ(failureOf([&] { resolver.revalidate(target, nullptr); }), ordinaryText);
    server.tmux({"send-keys", "-t", "main", "-X", "cancel"});
    ASSERT_TRUE(waitUntil([&] { return server.clientField(client->tty(), "#{pane_in_mode}") == "0"; }));

    client->type("\x02"); // the prefix key
    ASSERT_TRUE(waitUntil([&] { return server.clientField(client->tty(), "#{client_prefix}") == "1"; }));
    target = resolver.resolve(client->tty(), process, false, nullptr);
    EXPECT_TRUE(target.client.prefix);
    EXPECT_EQ(failureOf([&] { target.client.requireOrdinaryInput(); }), ordinaryText);
    EXPECT_NO_THROW(target.client.requireReplayableInput());
}

TEST_F(LocalTmux, DiscoverySkipsStaleAndSilentServersAndFindsTheLiveOne) {
    makeStaleSocket(directory + "/a-stale");
    TmuxServer silent("b-stopped");
    TmuxServer server("c-live");
    auto client = server.attach();
    ::kill(silent.serverPid(), SIGSTOP);
    auto target = resolver.resolve(client->tty(), tmuxClientOn(client->tty()), true, nullptr);
    EXPECT_EQ(target.socket.path, server.socket());
    EXPECT_FALSE(queryRunningFor(silent.socket())) << "the silent server's query was killed at its limit";
}

TEST_F(LocalTmux, RefusesDirectoriesAndSocketsThatAreNotPrivate) {
    TmuxServer server("default");
    auto client = server.attach();
    auto process = tmuxClientOn(client->tty());
    const std::string directoryText = "Standard private tmux socket directory unavailable";

    ::chmod(directory.c_str(), 0750);
    EXPECT_EQ(failureOf([&] { resolver.resolve(client->tty(), process, false, nullptr); }), directoryText);
    ::chmod(directory.c_str(), 0700);

    if (::geteuid() == 0) {
        ASSERT_EQ(::lchown(server.socket().c_str(), 65534, 65534), 0);
        EXPECT_EQ(failureOf([&] { resolver.resolve(client->tty(), process, false, nullptr); }), noClientText);
        EXPECT_EQ(failureOf([&] { LocalTmuxSocket::inspect(server.socket()); }),
                  "tmux socket missing, replaced, or not owned by this user");
        ASSERT_EQ(::lchown(server.socket().c_str(), 0, 0), 0);
    }
    TemporaryDirectory file;
    EXPECT_EQ(failureOf([&] { LocalTmuxSocket::inspect(file.write("plain", "x")); }),
              "tmux socket missing, replaced, or not owned by this user");

    // A symbolic link in place of the directory, even to a private one of the user's.
    auto moved = directory + "-real";
    ASSERT_EQ(::rename(directory.c_str(), moved.c_str()), 0);
    ASSERT_EQ(::symlink(moved.c_str(), directory.c_str()), 0);
    EXPECT_EQ(failureOf([&] { resolver.resolve(client->tty(), process, false, nullptr); }), directoryText);
    ::unlink(directory.c_str());
    ::rename(moved.c_str(), directory.c_str());
    EXPECT_NO_THROW(resolver.resolve(client->tty(), process, false, nullptr));
}

TEST_F(LocalTmux, AHangingTmuxIsKilledAtTheQueryLimit) {
    TmuxServer server("default");
    TemporaryDirectory programs;
    auto fakeTmux = installFakeProgram(programs.path(), "tmux");
    PseudoTerminal pty(fakeTmux, {});
    ASSERT_TRUE(pty.waitForOutput("ready"));
    EXPECT_EQ(failureOf([&] { resolver.resolve(pty.tty(), tmuxClientOn(pty.tty()), false, nullptr); }), noClientText);
    std::vector<pid_t> running;
    for (pid_t pid : otherProcessesInNamespace())
        if (executableOf(pid) == fakeTmux && pid != pty.pid()) running.push_back(pid);
    EXPECT_TRUE(running.empty()) << "a query child outlived its limit";
}

TEST_F(LocalTmux, ACancelledPasteEndsDiscoveryAndCachesNoRoute) {
    TmuxServer server("a-live");
    TmuxServer silent("b-stopped");
    auto client = server.attach();
    auto process = tmuxClientOn(client->tty());
    ::kill(silent.serverPid(), SIGSTOP);

    auto operation = PasteOperation::create();
    std::thread canceller([&] {
        waitUntil([&] { return queryRunningFor(silent.socket()); });
        operation->cancel("Paste cancelled — focus or input changed");
    });
    auto text = failureOf([&] { resolver.resolve(client->tty(), process, false, operation); });
    canceller.join();
    EXPECT_EQ(text, "Paste cancelled — focus or input changed");

    // No route was cached: the next paste discovers again, and too many candidates stop it.
    for (int i = 0; i < 65; ++i) makeStaleSocket(directory + "/z" + std::to_string(i));
    EXPECT_EQ(failureOf([&] { resolver.resolve(client->tty(), process, false, PasteOperation::create()); }),
              "Too many tmux socket candidates");
}

TEST_F(LocalTmux, TheCachedRouteIsUsedUntilTheSocketIsReplaced) {
    TmuxServer server("default");
    auto client = server.attach();
    auto process = tmuxClientOn(client->tty());
    auto first = resolver.resolve(client->tty(), process, false, nullptr);

    // With the route cached the directory is not listed again.
    for (int i = 0; i < 65; ++i) makeStaleSocket(directory + "/z" + std::to_string(i));
    EXPECT_EQ(resolver.resolve(client->tty(), process, false, nullptr), first);
    for (int i = 0; i < 65; ++i) ::unlink((directory + "/z" + std::to_string(i)).c_str());

    // The server makes its socket anew: another inode under the same path.
    ::unlink(server.socket().c_str());
    ::kill(server.serverPid(), SIGUSR1);
    ASSERT_TRUE(waitUntil([&] { return ::access(server.socket().c_str(), F_OK) == 0; }));
    EXPECT_EQ(failureOf([&] { resolver.revalidate(first, nullptr); }), "tmux socket changed or disappeared");
    auto second = resolver.resolve(client->tty(), process, false, nullptr);
    EXPECT_EQ(second.socket.path, first.socket.path);
    EXPECT_NE(second.socket.inode, first.socket.inode);
    EXPECT_NO_THROW(resolver.revalidate(second, nullptr));
}

TEST_F(LocalTmux, TwoClientsOfOneServerEachFindTheirOwn) {
    TmuxServer server("default");
    auto one = server.attach();
    auto two = server.attach();
    auto first = resolver.resolve(one->tty(), tmuxClientOn(one->tty()), true, nullptr);
    auto second = resolver.resolve(two->tty(), tmuxClientOn(two->tty()), true, nullptr);
    EXPECT_EQ(first.client.pid, one->pid());
    EXPECT_EQ(second.client.pid, two->pid());
    EXPECT_EQ(first.client.paneID, second.client.paneID);
    EXPECT_FALSE(first.matches(second));
}
