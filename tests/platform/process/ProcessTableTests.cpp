#include "platform/process/ProcessTable.h"
#include "support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace tarpelix::platform;

TEST(ProcessStat, ReadsFieldsAfterTheLastParenthesis) {
    // The command name may hold blanks and parentheses.
    std::string line = "4242 (we (ird) name)) T 1 4240 4240 34817 4240 4194560 0 0 0 0 0 0 0 0 20 0 1 0 123457 0 0";
    auto fields = parseProcessStat(line);
    ASSERT_TRUE(fields.has_value());
    EXPECT_EQ(fields->pid, 4242);
    EXPECT_EQ(fields->state, 'T');
    EXPECT_EQ(fields->processGroup, 4240);
    EXPECT_EQ(fields->ttyNumber, 34817u);
    EXPECT_EQ(fields->terminalForegroundGroup, 4240);
    EXPECT_EQ(fields->startTicks, 123457u);

    for (const char* bad : {"", "4242 (x", "4242 (x) T 1 2", "x (y) S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20",
                            "12 (y) SS 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20"}) {
        EXPECT_FALSE(parseProcessStat(bad).has_value()) << bad;
    }
    auto noTerminal = parseProcessStat("7 (sh) S 1 7 7 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 99 0 0");
    ASSERT_TRUE(noTerminal.has_value());
    EXPECT_EQ(noTerminal->terminalForegroundGroup, -1);
}

TEST(ProcessStat, ReadsRealAndEffectiveUid) {
    auto uids = parseProcessStatusUids("Name:\tx\nUmask:\t0022\nUid:\t501\t0\t0\t0\nGid:\t20\t20\t20\t20\n");
    ASSERT_TRUE(uids.has_value());
    EXPECT_EQ(uids->first, 501u);
    EXPECT_EQ(uids->second, 0u);
    EXPECT_FALSE(parseProcessStatusUids("Name:\tx\n").has_value());
    EXPECT_FALSE(parseProcessStatusUids("Uid:\t501\n").has_value());
}

TEST(ProcessTable, AnOpenedProcessNeverReadsASuccessor) {
    pid_t child = ::fork();
    if (child == 0) {
        ::pause();
        ::_exit(0);
    }
    auto handle = ProcessTable::system()->open(child);
    ASSERT_NE(handle, nullptr);
    ASSERT_TRUE(handle->info().has_value());
    ::kill(child, SIGKILL);
    siginfo_t info{};
    ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT), 0);
    EXPECT_EQ(handle->info()->state, ProcessRunState::zombie);
    int status = 0;
    ::waitpid(child, &status, 0);
    // Once reaped, reads through the old directory fail, whoever gets the pid next.
    EXPECT_FALSE(handle->info().has_value());
    EXPECT_FALSE(handle->commandLine(4096).has_value());
    EXPECT_NE(handle->executablePath(4096).error, 0);
    EXPECT_EQ(ProcessTable::system()->open(child), nullptr);
}

TEST(ProcessTable, AMissingProcRootIsAListingError) {
    try {
        ProcessTable::at("/nonexistent-proc")->processesOnTerminal(makedev(136, 1));
        FAIL() << "listed a missing table";
    } catch (const ProcessTableError& error) {
        EXPECT_EQ(error.stage, ProcessTableError::Stage::listing);
        EXPECT_EQ(error.error, ENOENT);
    }
}

TEST(ProcessTable, DescriptorsHeldWhileListingAreCloseOnExec) {
    // A process whose stat file is a FIFO holds the listing open until the test writes it, so
    // the descriptors held meanwhile can be inspected: a child started now by another thread
    // must inherit none of them.
    tarpelix::testing::TemporaryDirectory root;
    ASSERT_EQ(::mkdir(root.file("42").c_str(), 0755), 0);
    ASSERT_EQ(::mkfifo(root.file("42/stat").c_str(), 0644), 0);
    std::vector<ProcessTableEntry> listed;
    std::thread lister([&] { listed = ProcessTable::at(root.path())->processesOnTerminal(makedev(136, 1)); });
    int writer = ::open(root.file("42/stat").c_str(), O_WRONLY | O_CLOEXEC); // waits for the reader
    ASSERT_GE(writer, 0);
    int onRoot = 0;
    DIR* fds = ::opendir("/proc/self/fd");
    while (dirent* entry = ::readdir(fds)) {
        char target[4096];
        auto link = std::string("/proc/self/fd/") + entry->d_name;
        ssize_t n = ::readlink(link.c_str(), target, sizeof target);
        if (n <= 0 || std::string(target, static_cast<std::size_t>(n)) != root.path()) continue;
        ++onRoot;
        EXPECT_TRUE(::fcntl(std::atoi(entry->d_name), F_GETFD) & FD_CLOEXEC) << "descriptor " << entry->d_name;
    }
    ::closedir(fds);
    EXPECT_GE(onRoot, 2) << "the root and the listing of it";
    std::string line = "42 (x) S 1 42 42 34817 42 0 0 0 0 0 0 0 0 0 20 0 1 0 5 0 0\n";
    EXPECT_EQ(::write(writer, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    ::close(writer);
    lister.join();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].pid, 42);
}

TEST(ProcessTable, TerminalNumbersDecodeLikeTheDeviceNumbers) {
    // new_encode_dev: minor low byte, 12 bits of major, the minor's high bits above.
    EXPECT_EQ(decodeKernelTerminalNumber(34817), makedev(136, 1));
    EXPECT_EQ(decodeKernelTerminalNumber((136u << 8) | 0x2c | (0x1u << 20)), makedev(136, 300));
    EXPECT_EQ(decodeKernelTerminalNumber(0x0400), makedev(4, 0));
}
