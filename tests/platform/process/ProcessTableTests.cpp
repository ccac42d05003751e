#include "platform/process/ProcessTable.h"
#include "support/Eventually.h"
#include "support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
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
    EXPECT_GE(onRoot, 1) << "the root, listed and read through one descriptor";
    std::string line = "42 (x) S 1 42 42 34817 42 0 0 0 0 0 0 0 0 0 20 0 1 0 5 0 0\n";
    EXPECT_EQ(::write(writer, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    ::close(writer);
    lister.join();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].pid, 42);
}

TEST(ProcessTable, ALargeTableReadInPiecesKeepsEveryMatchInTableOrder) {
    // Enough processes for several threads: every third is on the terminal, in groups that
    // tell them apart, among processes of other terminals and names that are not processes.
    tarpelix::testing::TemporaryDirectory root;
    const dev_t terminal = makedev(136, 1);
    const long ticks = ::sysconf(_SC_CLK_TCK);
    for (int pid = 1; pid <= 1500; ++pid) {
        auto directory = root.file(std::to_string(pid));
        ASSERT_EQ(::mkdir(directory.c_str(), 0755), 0);
        int tty = pid % 3 == 0 ? 34817 : pid % 3 == 1 ? 34818 : 0;
        std::ofstream(directory + "/stat") << pid << " (p " << pid << ") S 1 " << pid * 7 << " 1 " << tty << " 9 0 0 0 0 0 "
                                           << "0 0 0 0 20 0 1 0 " << pid * ticks << " 0 0\n";
    }
    ASSERT_EQ(::mkdir(root.file("self").c_str(), 0755), 0);
    std::vector<pid_t> expected; // the directory's own order
    DIR* dir = ::opendir(root.path().c_str());
    while (dirent* entry = ::readdir(dir)) {
        int pid = std::atoi(entry->d_name);
        if (pid > 0 && pid % 3 == 0) expected.push_back(pid);
    }
    ::closedir(dir);

    auto listed = ProcessTable::at(root.path())->processesOnTerminal(terminal);
    std::vector<pid_t> pids;
    for (const auto& entry : listed) {
        pids.push_back(entry.pid);
        EXPECT_EQ(entry.processGroup, entry.pid * 7);
        EXPECT_EQ(entry.terminalDevice, terminal);
        EXPECT_EQ(entry.terminalForegroundGroup, 9);
        EXPECT_EQ(entry.start, (ProcessStartTime{static_cast<std::uint64_t>(entry.pid), 0}));
    }
    EXPECT_EQ(pids, expected);
}

TEST(ProcessTable, ArgumentsLongerThanAPageAreReadWhole) {
    std::string longArgument(10'000, 'a');
    longArgument.back() = 'z';
    // A shell waiting on a pipe with its builtin `read`: it starts no other process.
    int input[2];
    ASSERT_EQ(::pipe2(input, O_CLOEXEC), 0);
    pid_t child = ::fork();
    if (child == 0) {
        ::dup2(input[0], 0);
        ::execl("/bin/sh", "sh", "-c", "read line", longArgument.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(input[0]);
    std::string expected = std::string("sh") + '\0' + "-c" + '\0' + "read line" + '\0' + longArgument + '\0';
    std::string read; // the test's own arguments until the child has started the shell
    tarpelix::testing::waitUntil([&] {
        auto bytes = ProcessTable::system()->open(child)->commandLine(1 << 20);
        read = bytes ? std::string(bytes->begin(), bytes->end()) : "";
        return read.starts_with("sh");
    });
    EXPECT_EQ(read.size(), expected.size());
    EXPECT_TRUE(read == expected);
    // A limit cuts the area short where it says.
    auto cut = ProcessTable::system()->open(child)->commandLine(5000);
    ASSERT_TRUE(cut.has_value());
    EXPECT_EQ(std::string(cut->begin(), cut->end()), expected.substr(0, 5000));
    ::close(input[1]);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}

TEST(ProcessTable, TerminalNumbersDecodeLikeTheDeviceNumbers) {
    // new_encode_dev: minor low byte, 12 bits of major, the minor's high bits above.
    EXPECT_EQ(decodeKernelTerminalNumber(34817), makedev(136, 1));
    EXPECT_EQ(decodeKernelTerminalNumber((136u << 8) | 0x2c | (0x1u << 20)), makedev(136, 300));
    EXPECT_EQ(decodeKernelTerminalNumber(0x0400), makedev(4, 0));
}
