#include "platform/foundation/Clock.h"
#include "platform/process/ChildProcess.h"
#include "platform/process/OutputCollector.h"
#include "ssh/SSHTransport.h"
#include "support/Eventually.h"
#include "support/Processes.h"
#include "support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <tuple>
#include <unistd.h>

using namespace tarpelix;
using namespace tarpelix::platform;
using tarpelix::testing::livingProcessesInGroup;
using tarpelix::testing::processStatus;
using tarpelix::testing::TemporaryDirectory;
using tarpelix::testing::waitUntil;

namespace {

// Starts `executable` (by default /bin/sh -c script); returns the read end of its standard output.
UniqueFd start(ChildProcess& child, std::vector<std::string> arguments, std::string executable = "/bin/sh") {
    auto out = Pipe::create();
    child.executable = std::move(executable);
    child.arguments = std::move(arguments);
    child.standardOutput = ChildProcess::Stream::descriptor(out.writeEnd.get());
    child.launch();
    return std::move(out.readEnd);
}

UniqueFd startShell(ChildProcess& child, const std::string& script) {
    return start(child, {"-c", script});
}

// Reads a pipe until end of file.
std::string readAll(const UniqueFd& fd) {
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd.get(), buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(n));
    return text;
}

} // namespace

TEST(ChildProcess, ReportsExitStatusAndSignal) {
    ChildProcess exits;
    startShell(exits, "exit 3");
    exits.waitUntilExit();
    EXPECT_EQ(exits.terminationReason(), ChildProcess::TerminationReason::exit);
    EXPECT_EQ(exits.terminationStatus(), 3);
    EXPECT_FALSE(exits.exitedWithStatusZero());

    ChildProcess killed;
    startShell(killed, "kill -TERM $$");
    ASSERT_TRUE(waitUntil([&] { return !killed.isRunning(); }));
    EXPECT_EQ(killed.terminationReason(), ChildProcess::TerminationReason::uncaughtSignal);
    EXPECT_EQ(killed.terminationStatus(), SIGTERM);
    EXPECT_FALSE(killed.isRunning());
    EXPECT_EQ(killed.terminationStatus(), SIGTERM) << "the status is kept";
}

TEST(ChildProcess, AWaitEndsWhenTheChildEnds) {
    // Nothing to read and a limit far away: only the child's end can end the wait.
    ChildProcess child;
    child.executable = "/bin/sh";
    child.arguments = {"-c", "exec sleep 0.05"};
    child.launch();
    if (!child.watchesExit()) GTEST_SKIP() << "the kernel offers no process descriptor";
    child.awaitActivity({}, std::chrono::minutes(1));
    EXPECT_TRUE(child.exited()) << "the end was noted by the wait";
    EXPECT_FALSE(child.isRunning());
    child.waitUntilExit();
    EXPECT_TRUE(child.exitedWithStatusZero());
    EXPECT_FALSE(child.watchesExit()) << "the descriptor goes with the reaped child";
}

TEST(OutputCollector, ReadsUntilBothTheOutputAndTheChildHaveEnded) {
    using End = CollectedOutput::End;
    const std::vector<std::tuple<const char*, End, std::string>> cases = {
        {"exec >&-; sleep 0.05; exit 4", End::complete, ""},           // output ends before the child
        {"(sleep 0.05; echo late) & exit 4", End::complete, "late\n"}, // output after the child's end
        {"sleep 1000 & echo early", End::timedOut, "early\n"}, // a grandchild holds the pipe until the limit
    };
    for (const auto& [script, end, output] : cases) {
        pid_t group = 0;
        {
            ChildProcess child;
            child.executable = "/bin/sh";
            child.arguments = {"-c", script};
            auto collected = runCollectingOutput(
                child, {.deadline = systemUptime() + 10, .maximumBytes = 64, .runLimit = 0.5}, {});
            group = child.processIdentifier();
            EXPECT_EQ(collected.end, end) << script;
            EXPECT_EQ(std::string(collected.bytes.begin(), collected.bytes.end()), output) << script;
            if (end == End::complete) {
                EXPECT_EQ(child.terminationStatus(), 4) << script;
            }
        } // the owner's going away kills whatever is left of the group
        EXPECT_TRUE(waitUntil([&] { return livingProcessesInGroup(group).empty(); })) << script;
    }
}

TEST(ChildProcess, LeadsItsOwnGroupWithTheGivenStreamsAndEnvironmentOnly) {
    // A descriptor of ours without close-on-exec must still not reach the child.
    int stray = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(stray, 0);
    ChildProcess child;
    auto out = startShell(child, "echo $$ $(cut -d' ' -f5 /proc/$$/stat); cat; ls /proc/self/fd");
    auto output = readAll(out);
    ::close(stray);
    child.waitUntilExit();
    EXPECT_TRUE(child.exitedWithStatusZero());
    auto pid = std::to_string(child.processIdentifier());
    // Standard input is the null device, so cat ends at once; ls lists 0, 1, 2 and the
    // directory it reads, nothing else.
    EXPECT_EQ(output, pid + " " + pid + "\n0\n1\n2\n3\n") << "the child leads its own group";

    ChildProcess env;
    env.environment = std::vector<std::string>{"ONLY=this"};
    EXPECT_EQ(readAll(start(env, {}, "/usr/bin/env")), "ONLY=this\n");
}

TEST(ChildProcess, GetsTheDefaultSigpipeBack) {
    // This process ignores SIGPIPE; a child writing into a closed pipe must die of it.
    ChildProcess writer;
    startShell(writer, "while :; do echo x; done");
    writer.waitUntilExit();
    EXPECT_EQ(writer.terminationReason(), ChildProcess::TerminationReason::uncaughtSignal);
    EXPECT_EQ(writer.terminationStatus(), SIGPIPE);
}

TEST(ChildProcess, GetsTheDefaultFileSizeLimitSignalBack) {
    // This process ignores SIGXFSZ; a child writing past its file-size limit must die of it.
    TemporaryDirectory directory;
    ChildProcess writer;
    startShell(writer, "ulimit -f 1; exec head -c 1000000 /dev/zero > '" + directory.file("big") + "'");
    writer.waitUntilExit();
    EXPECT_EQ(writer.terminationReason(), ChildProcess::TerminationReason::uncaughtSignal);
    EXPECT_EQ(writer.terminationStatus(), SIGXFSZ);
}

TEST(ChildProcess, LaunchFailureIsTheSystemError) {
    ChildProcess missing;
    missing.executable = "/nonexistent/tarpelix-program";
    try {
        missing.launch();
        FAIL() << "launch succeeded";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), ENOENT);
        EXPECT_NE(std::string(error.what()).find("Cannot launch /nonexistent/tarpelix-program"),
                  std::string::npos);
    }
    EXPECT_FALSE(missing.launched());
    EXPECT_FALSE(missing.isRunning());
}

TEST(TerminateRequest, KillsARunningChildAndLeavesNoProcessOfItsGroupAlive) {
    ChildProcess child;
    startShell(child, "sleep 1000 & sleep 1000 & wait");
    pid_t group = child.processIdentifier();
    ASSERT_TRUE(waitUntil([&] { return livingProcessesInGroup(group).size() == 3; }));
    EXPECT_TRUE(child.isRunning());
    SSHTransport::terminateRequest(child);
    EXPECT_TRUE(child.reaped());
    EXPECT_EQ(child.terminationReason(), ChildProcess::TerminationReason::uncaughtSignal);
    EXPECT_EQ(child.terminationStatus(), SIGKILL);
    // SIGKILL reaches every member at once, but the grandchildren are reaped by their new
    // parent: wait for them to be gone rather than assume it.
    EXPECT_TRUE(waitUntil([&] { return livingProcessesInGroup(group).empty(); }));
    EXPECT_NE(::getpgrp(), group);
}

TEST(TerminateRequest, KillsTheGroupOfAnEndedChildOnlyBeforeReapingIt) {
    // The child exits and leaves a member of its group behind. While the child is an unreaped
    // zombie its group id is still its own, so the group can be killed; once it is reaped the
    // id may belong to anyone, so no group signal may be sent.
    auto startChild = [](ChildProcess& child) {
        auto out = startShell(child, "sleep 1000 </dev/null >/dev/null 2>&1 & echo $!");
        pid_t survivor = std::stoi(readAll(out));
        EXPECT_TRUE(waitUntil([&] { return !child.isRunning(); }));
        EXPECT_TRUE(child.exitedWithStatusZero());
        return survivor;
    };

    ChildProcess ended;
    startChild(ended);
    EXPECT_FALSE(ended.reaped());
    SSHTransport::terminateRequest(ended);
    EXPECT_TRUE(ended.reaped());
    EXPECT_TRUE(waitUntil([&] { return livingProcessesInGroup(ended.processIdentifier()).empty(); }));
    EXPECT_EQ(ended.terminationStatus(), 0) << "the child's own status is kept";

    ChildProcess reaped;
    pid_t survivor = startChild(reaped);
    reaped.waitUntilExit();
    EXPECT_FALSE(reaped.signalGroup(SIGKILL));
    SSHTransport::terminateRequest(reaped);
    auto status = processStatus(survivor);
    ASSERT_TRUE(status.has_value());
    EXPECT_NE(status->state, 'Z');
    EXPECT_EQ(status->processGroup, reaped.processIdentifier());
    ::kill(survivor, SIGKILL);
}
