#include "SessionTestSupport.h"
#include "session/ProcessInspector.h"
#include "session/SSHSessionResolver.h"
#include "support/Eventually.h"
#include "support/Failures.h"
#include "support/PrivateNamespace.h"
#include "support/Processes.h"
#include "support/PseudoTerminal.h"
#include "support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <csignal>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarpelix;
using namespace tarpelix::testing;
using Read = InterposedTable::Read;

namespace {

// The reason the snapshot fails with, or "" when it succeeds.
std::string failure(const ProcessInspector& inspector, const std::string& tty) {
    return failureOf([&] { inspector.snapshot(tty); });
}

const std::string changedReason = "Foreground process changed, stopped, or belongs to another user";

} // namespace

TEST(ProcessInspector, RefusesPathsThatAreNotTerminals) {
    ProcessInspector inspector;
    for (const char* path : {"/dev/tty/../null", "/dev/pts/../null", "/dev/pts/1/x", "/dev/null", "/dev/pts/x",
                             "dev/pts/1", "/tmp/ttys003", ""}) {
        EXPECT_EQ(failure(inspector, path), "Unsupported terminal TTY") << path;
    }
    for (const char* path : {"/dev/pts/999999", "/dev/ttys999"})
        EXPECT_EQ(failure(inspector, path), "Terminal TTY disappeared or is not a character device") << path;
}

TEST(ProcessInspector, ATerminalWithoutProcessesHasNoForegroundGroup) {
    int master = -1, slave = -1;
    char name[256];
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    EXPECT_EQ(failure(ProcessInspector(), name), "Terminal foreground process group is missing or changed");
    ::close(slave);
    ::close(master);
}

TEST(ProcessInspector, ALoginShellIsALocalShell) {
    PseudoTerminal bash(program("/bin/bash", {"-bash"}));
    auto shell = classifiedAs<ForegroundSession::LocalShell>(bash.tty());
    ASSERT_TRUE(shell.has_value());
    EXPECT_EQ(shell->process.executable, "/usr/bin/bash");
    EXPECT_EQ(shell->process.arguments, std::vector<std::string>{"-bash"});
    EXPECT_EQ(shell->process.identity.pid, bash.pid());
    EXPECT_EQ(shell->process.processGroup, bash.pid());

    PseudoTerminal sh(program("/bin/sh", {"sh", "-i"}));
    auto dash = classifiedAs<ForegroundSession::LocalShell>(sh.tty());
    ASSERT_TRUE(dash.has_value());
    EXPECT_EQ(dash->process.executable, "/usr/bin/dash");
}

TEST(ProcessInspector, APipelineIsOneLocalApplicationAndAStoppedJobLeavesTheShell) {
    PseudoTerminal bash(program("/bin/bash", {"bash", "-i"}));
    bash.type("sleep 1000 | cat\n");
    ASSERT_TRUE(bash.waitForForegroundJob());
    ProcessInspector inspector;
    std::optional<ForegroundSnapshot> snapshot;
    ASSERT_TRUE(waitUntil([&] {
        try {
            snapshot = inspector.snapshot(bash.tty());
        } catch (const SessionInspectionError&) {
            return false;
        }
        return snapshot->processes.size() == 2 && snapshot->processes[0].executable == "/usr/bin/sleep" &&
               snapshot->processes[1].executable == "/usr/bin/cat";
    }));
    EXPECT_EQ(snapshot->foregroundGroup, bash.foregroundGroup());
    EXPECT_NE(snapshot->foregroundGroup, bash.pid()) << "the shell is not part of the job";
    auto session = SSHSessionResolver::classify(*snapshot);
    auto local = session.as<ForegroundSession::LocalApplication>();
    ASSERT_NE(local, nullptr);
    ASSERT_EQ(local->session.processes.size(), 2u);
    EXPECT_LT(local->session.processes[0].identity.pid, local->session.processes[1].identity.pid);
    EXPECT_TRUE(SSHSessionResolver::matches(local->session, inspector.snapshot(bash.tty())));

    // Control+Z stops the job and hands the terminal back to the shell.
    bash.type("\x1a");
    auto shell = classifiedAs<ForegroundSession::LocalShell>(bash.tty());
    ASSERT_TRUE(shell.has_value());
    EXPECT_EQ(shell->process.identity.pid, bash.pid());
    EXPECT_FALSE(SSHSessionResolver::matches(local->session, inspector.snapshot(bash.tty())));
}

TEST(ProcessInspector, AStoppedOrZombieForegroundFailsTheSnapshot) {
    PseudoTerminal stopped(program(TARPELIX_FAKE_PROGRAM, {"fake"}));
    ASSERT_TRUE(stopped.waitForOutput("ready"));
    ASSERT_EQ(failure(ProcessInspector(), stopped.tty()), "");
    ::kill(stopped.pid(), SIGSTOP);
    ASSERT_TRUE(waitUntil([&] { return processStatus(stopped.pid())->state == 'T'; }));
    EXPECT_EQ(failure(ProcessInspector(), stopped.tty()), changedReason);

    PseudoTerminal zombie(program(TARPELIX_FAKE_PROGRAM, {"fake"}, {"TARPELIX_FAKE_MODE=zombie-foreground"}));
    ASSERT_TRUE(zombie.waitForOutput("ready"));
    EXPECT_EQ(failure(ProcessInspector(), zombie.tty()), changedReason);
}

TEST(ProcessInspector, AProcessOfAnotherUserFailsTheSnapshot) {
    if (::geteuid() != 0) GTEST_SKIP() << "skipped: running a process under another uid needs root";
    // Another user altogether, only another real user, only another effective user (as a
    // set-user-ID program runs).
    for (const char* uids : {"--reuid=65534", "--ruid=65534", "--euid=65534"}) {
        PseudoTerminal other(program("/usr/bin/setpriv", {"setpriv", uids, "/bin/sleep", "1000"}));
        ASSERT_TRUE(waitUntil([&] { return executableOf(other.pid()) == "/usr/bin/sleep"; }));
        EXPECT_EQ(failure(ProcessInspector(), other.tty()), changedReason) << uids;
    }
}

TEST(ProcessInspector, AProcessThatExecsBetweenTheReadsIsCaught) {
    PseudoTerminal pty(program(TARPELIX_FAKE_PROGRAM, {"fake"},
                            {"TARPELIX_FAKE_MODE=exec-on-usr1", "TARPELIX_FAKE_EXEC=/bin/sleep"}));
    ASSERT_TRUE(pty.waitForOutput("ready"));
    auto table = std::make_shared<InterposedTable>();
    bool execed = false;
    table->afterRead = [&](Read read, pid_t pid) {
        if (read != Read::executablePath || execed) return;
        execed = true;
        ::kill(pid, SIGUSR1);
        // The kernel names the new executable before it lays out the new program's arguments:
        // wait for those, so that only the path read twice can tell the exec apart.
        const std::string newArguments = std::string("/bin/sleep") + '\0' + "1000" + '\0';
        EXPECT_TRUE(
            waitUntil([&] { return readFile("/proc/" + std::to_string(pid) + "/cmdline") == newArguments; }));
    };
    EXPECT_EQ(failure(ProcessInspector(table), pty.tty()), "Foreground process changed while reading it");
    EXPECT_TRUE(execed);
    // Once settled, the new program is read normally.
    auto snapshot = ProcessInspector().snapshot(pty.tty());
    ASSERT_EQ(snapshot.processes.size(), 1u);
    EXPECT_EQ(snapshot.processes[0].executable, "/usr/bin/sleep");
    EXPECT_EQ(snapshot.processes[0].arguments, (std::vector<std::string>{"/bin/sleep", "1000"}));
}

TEST(ProcessInspector, AProcessThatExitsMidReadIsCaught) {
    PseudoTerminal pty(program(TARPELIX_FAKE_PROGRAM, {"fake"}));
    ASSERT_TRUE(pty.waitForOutput("ready"));
    auto table = std::make_shared<InterposedTable>();
    table->afterRead = [&](Read read, pid_t) {
        if (read == Read::commandLine) pty.terminate();
    };
    EXPECT_EQ(failure(ProcessInspector(table), pty.tty()), "Foreground process exited or cannot be inspected");
}

TEST(ProcessInspector, AnExecutableRemovedFromDiskIsNotNamed) {
    TemporaryDirectory directory;
    auto vanishing = installFakeProgram(directory.path(), "vanishing");
    PseudoTerminal pty(program(vanishing, {"vanishing"}));
    ASSERT_TRUE(pty.waitForOutput("ready"));
    ::unlink(vanishing.c_str());
    EXPECT_EQ(failure(ProcessInspector(), pty.tty()), "Cannot read foreground executable path");
}

TEST(ProcessInspector, FailuresTheKernelOnlyShowsInRacesKeepTheirTexts) {
    PseudoTerminal pty(program(TARPELIX_FAKE_PROGRAM, {"fake"}));
    ASSERT_TRUE(pty.waitForOutput("ready"));
    const std::string tty = pty.tty();
    auto realTable = platform::ProcessTable::system();
    struct stat status {};
    ASSERT_EQ(::stat(tty.c_str(), &status), 0);
    auto entries = realTable->processesOnTerminal(status.st_rdev);
    ASSERT_EQ(entries.size(), 1u);

    struct Case {
        const char* name;
        std::function<void(InterposedTable&)> setUp;
        std::string expected;
    };
    auto listed = [&](std::function<void(std::vector<platform::ProcessTableEntry>&)> change) {
        return [=](InterposedTable& table) {
            table.listing = [=](dev_t) {
                auto copy = entries;
                change(copy);
                return copy;
            };
        };
    };
    const std::vector<Case> cases = {
        {"listing fails", [](InterposedTable& t) { t.real = platform::ProcessTable::at("/nonexistent-proc"); },
         "Cannot inspect terminal processes (2)"},
        {"listing breaks off",
         [](InterposedTable& t) {
             t.listing = [](dev_t) -> std::vector<platform::ProcessTableEntry> {
                 throw platform::ProcessTableError(platform::ProcessTableError::Stage::reading, EIO);
             };
         },
         "Cannot read terminal process table (5)"},
        {"foreground groups disagree",
         listed([](auto& e) {
             e.push_back(e[0]);
             e.back().terminalForegroundGroup += 1;
         }),
         "Terminal foreground process group is missing or changed"},
        {"foreground group zero", listed([](auto& e) { e[0].terminalForegroundGroup = 0; }),
         "Terminal foreground process group is missing or changed"},
        {"no member of the group", listed([](auto& e) { e[0].processGroup += 1; }),
         "No inspectable foreground process on this TTY"},
        {"a record of another start time", listed([](auto& e) { e[0].start.microseconds += 1; }), changedReason},
        {"cannot be opened", [](InterposedTable& t) { t.failOpen = true; },
         "Foreground process exited or cannot be inspected"},
        {"argument limit unknown", [](InterposedTable& t) { t.argumentLimit = [] { return std::nullopt; }; },
         "Cannot determine process argument buffer size"},
        {"argument limit too large",
         [](InterposedTable& t) { t.argumentLimit = [] { return std::optional<std::size_t>(16 * 1024 * 1024 + 1); }; },
         "Cannot determine process argument buffer size"},
        {"arguments unreadable", [](InterposedTable& t) { t.failCommandLine = true; },
         "Cannot read foreground process arguments"},
        {"arguments cut short", [](InterposedTable& t) { t.argumentLimit = [] { return std::optional<std::size_t>(3); }; },
         "Malformed process arguments"},
    };
    for (const auto& c : cases) {
        auto table = std::make_shared<InterposedTable>();
        c.setUp(*table);
        EXPECT_EQ(failure(ProcessInspector(table), tty), c.expected) << c.name;
    }
    // Unchanged, the same terminal inspects cleanly.
    EXPECT_EQ(failure(ProcessInspector(std::make_shared<InterposedTable>()), tty), "");
}

TEST(ProcessInspector, DecodesArgumentStringsStrictly) {
    using platform::Bytes;
    auto bytes = [](std::string_view text) { return Bytes(text.begin(), text.end()); };
    EXPECT_EQ(ProcessInspector::decodeArguments(bytes(std::string_view("ssh\0\0", 5))),
              (std::vector<std::string>{"ssh", ""}));
    EXPECT_EQ(ProcessInspector::decodeArguments(bytes(std::string_view("ssh\0host\0", 9))),
              (std::vector<std::string>{"ssh", "host"}));
    EXPECT_EQ(ProcessInspector::decodeArguments(bytes(std::string_view("\0", 1))), (std::vector<std::string>{""}));
    for (auto bad : {std::string_view(""), std::string_view("ssh\0host", 8), std::string_view("ssh"),
                     std::string_view("ssh\0\xff\0", 6)}) {
        EXPECT_EQ(failureOf([&] { ProcessInspector::decodeArguments(bytes(bad)); }), "Malformed process arguments")
            << ::testing::PrintToString(std::string(bad));
    }
}
