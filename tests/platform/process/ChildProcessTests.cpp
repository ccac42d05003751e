#include "platform/process/ChildProcess.h"
#include "ssh/SSHTransport.h"
#include "support/Eventually.h"
#include "support/Processes.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using namespace tarpelix;
using namespace tarpelix::platform;
using tarpelix::testing::livingProcessesInGroup;
using tarpelix::testing::processStatus;
using tarpelix::testing::waitUntil;

namespace {

// Reads a pipe until end of file.
std::string readAll(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
    return text;
}

struct ShellRun {
    std::string output;
    ChildProcess process;
};

void runShell(ShellRun& run, const std::string& script) {
    auto out = Pipe::create();
    run.process.executable = "/bin/sh";
    run.process.arguments = {"-c", script};
    run.process.standardOutput = ChildProcess::Stream::descriptor(out.writeEnd.get());
    run.process.launch();
    out.writeEnd.reset();
    run.output = readAll(out.readEnd.get());
    run.process.waitUntilExit();
}

} // namespace

TEST(ChildProcess, ReportsExitStatusAndSignal) {
    ChildProcess exits;
    exits.executable = "/bin/sh";
    exits.arguments = {"-c", "exit 3"};
    exits.launch();
    exits.waitUntilExit();
    EXPECT_EQ(exits.terminationReason(), ChildProcess::TerminationReason::exit);
    EXPECT_EQ(exits.terminationStatus(), 3);
    EXPECT_FALSE(exits.exitedWithStatusZero());

    ChildProcess killed;
    killed.executable = "/bin/sh";
    killed.arguments = {"-c", "kill -TERM $$"};
    killed.launch();
    ASSERT_TRUE(waitUntil([&] { return !killed.isRunning(); }));
    EXPECT_EQ(killed.terminationReason(), ChildProcess::TerminationReason::uncaughtSignal);
    EXPECT_EQ(killed.terminationStatus(), SIGTERM);
    // The status is kept once reaped.
    EXPECT_FALSE(killed.isRunning());
    EXPECT_EQ(killed.terminationStatus(), SIGTERM);
}

TEST(ChildProcess, LeadsItsOwnGroupAndInheritsNoStrayDescriptor) {
    // A descriptor of ours without close-on-exec must still not reach the child.
    int stray = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(stray, 0);
    ShellRun run;
    runShell(run, "echo $$ $(cut -d' ' -f5 /proc/$$/stat); ls /proc/self/fd");
    ::close(stray);
    EXPECT_TRUE(run.process.exitedWithStatusZero());
    auto firstLine = run.output.substr(0, run.output.find('\n'));
    auto pid = std::to_string(run.process.processIdentifier());
    EXPECT_EQ(firstLine.substr(0, firstLine.find(' ')), pid);
    EXPECT_EQ(firstLine.substr(firstLine.find(' ') + 1), pid) << "the child leads its own group";
    // ls itself lists 0, 1, 2 and the directory it reads, nothing else.
    std::string descriptors = run.output.substr(run.output.find('\n') + 1);
    EXPECT_EQ(descriptors, "0\n1\n2\n3\n");
}

TEST(ChildProcess, GetsDefaultSigpipeAndNullDeviceInput) {
    // This process ignores SIGPIPE; a child writing into a closed pipe must die of it.
    auto out = Pipe::create();
    ChildProcess writer;
    writer.executable = "/bin/sh";
    writer.arguments = {"-c", "while :; do echo x; done"};
    writer.standardOutput = ChildProcess::Stream::descriptor(out.writeEnd.get());
    writer.launch();
    out.writeEnd.reset();
    out.readEnd.reset();
    writer.waitUntilExit();
    EXPECT_EQ(writer.terminationReason(), ChildProcess::TerminationReason::uncaughtSignal);
    EXPECT_EQ(writer.terminationStatus(), SIGPIPE);

    ShellRun run;
    runShell(run, "cat; echo done");
    EXPECT_EQ(run.output, "done\n") << "standard input is the null device";
}

TEST(ChildProcess, LaunchFailureIsTheSystemError) {
    ChildProcess missing;
    missing.executable = "/nonexistent/tarpelix-program";
    try {
        missing.launch();
        FAIL() << "launch succeeded";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), ENOENT);
        EXPECT_NE(std::string(error.what()).find("Cannot launch /nonexistent/tarpelix-program"), std::string::npos);
    }
    EXPECT_FALSE(missing.launched());
    EXPECT_FALSE(missing.isRunning());
}

TEST(ChildProcess, PassesTheGivenEnvironmentOnly) {
    auto out = Pipe::create();
    ChildProcess child;
    child.executable = "/usr/bin/env";
    child.environment = std::vector<std::string>{"ONLY=this"};
    child.standardOutput = ChildProcess::Stream::descriptor(out.writeEnd.get());
    child.launch();
    out.writeEnd.reset();
    EXPECT_EQ(readAll(out.readEnd.get()), "ONLY=this\n");
    child.waitUntilExit();
}

TEST(TerminateRequest, LeavesNoProcessOfTheGroupAlive) {
    ChildProcess child;
    child.executable = "/bin/sh";
    child.arguments = {"-c", "sleep 1000 & sleep 1000 & wait"};
    child.launch();
    pid_t group = child.processIdentifier();
    ASSERT_TRUE(waitUntil([&] { return livingProcessesInGroup(group).size() == 3; }));
    SSHTransport::terminateRequest(child);
    EXPECT_TRUE(child.reaped());
    EXPECT_EQ(child.terminationReason(), ChildProcess::TerminationReason::uncaughtSignal);
    // SIGKILL is delivered to every member at once, but the grandchildren are reaped by their
    // new parent: wait for them to be gone rather than assume it.
    EXPECT_TRUE(waitUntil([&] { return livingProcessesInGroup(group).empty(); }));
    EXPECT_NE(::getpgrp(), group);
    EXPECT_FALSE(processStatus(::getpid()) == std::nullopt) << "our own process survives";
}

TEST(TerminateRequest, KillsTheGroupOfAnEndedChildOnlyBeforeReapingIt) {
    // The child exits and leaves a member of its group behind. While the child is an unreaped
    // zombie its group id is still its own, so the group can be killed; once it is reaped the
    // id may belong to anyone, so no group signal may be sent.
    auto startChild = [](ChildProcess& child) {
        auto out = Pipe::create();
        child.executable = "/bin/sh";
        child.arguments = {"-c", "sleep 1000 </dev/null >/dev/null 2>&1 & echo $!"};
        child.standardOutput = ChildProcess::Stream::descriptor(out.writeEnd.get());
        child.launch();
        out.writeEnd.reset();
        pid_t survivor = std::stoi(readAll(out.readEnd.get()));
        EXPECT_TRUE(waitUntil([&] { return !child.isRunning(); }));
        EXPECT_TRUE(child.exitedWithStatusZero());
        return survivor;
    };

    ChildProcess ended;
    pid_t member = startChild(ended);
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
    (void)member;
}

TEST(TerminateRequest, KillsARunningChildAndWaitsForIt) {
    auto out = Pipe::create();
    ChildProcess child;
    child.executable = "/bin/sh";
    child.arguments = {"-c", "while :; do echo xxxxxxxxxxxxxxxxxxxxxxxxxxxxx; done"};
    child.standardOutput = ChildProcess::Stream::descriptor(out.writeEnd.get());
    child.launch();
    out.writeEnd.reset();
    pollfd readable{out.readEnd.get(), POLLIN, 0};
    ASSERT_EQ(::poll(&readable, 1, 10000), 1);
    EXPECT_TRUE(child.isRunning());
    SSHTransport::terminateRequest(child);
    EXPECT_FALSE(child.isRunning());
    EXPECT_EQ(child.terminationStatus(), SIGKILL);
}
