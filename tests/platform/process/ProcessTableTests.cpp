#include "platform/process/ProcessTable.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
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

TEST(ProcessTable, TerminalNumbersDecodeLikeTheDeviceNumbers) {
    // new_encode_dev: minor low byte, 12 bits of major, the minor's high bits above.
    EXPECT_EQ(decodeKernelTerminalNumber(34817), makedev(136, 1));
    EXPECT_EQ(decodeKernelTerminalNumber((136u << 8) | 0x2c | (0x1u << 20)), makedev(136, 300));
    EXPECT_EQ(decodeKernelTerminalNumber(0x0400), makedev(4, 0));
}
