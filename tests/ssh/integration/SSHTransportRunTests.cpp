#include "model/PasteOperation.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/process/ChildProcess.h"
#include "ssh/SSHTransport.h"
#include "support/Eventually.h"
#include "support/Processes.h"
#include "support/TemporaryDirectory.h"
#include "model/TerminalUnavailable.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

using namespace tarpelix;
using namespace tarpelix::testing;

namespace {

struct RunResult {
    std::string output;
    std::string failure;
    int successCalls = 0;
    pid_t pid = 0;
};

RunResult runScript(const std::string& script, const platform::Bytes& input = {}, double seconds = 10.0,
                    std::shared_ptr<PasteOperation> operation = nullptr) {
    platform::ChildProcess process;
    process.executable = "/bin/sh";
    process.arguments = {"-c", script};
    RunResult result;
    try {
        auto output = SSHTransport::run(process, input, platform::systemUptime() + seconds, operation,
                                        [&](const platform::Bytes&) { ++result.successCalls; });
        result.output.assign(output.begin(), output.end());
    } catch (const TerminalUnavailable& error) {
        result.failure = error.reason;
    }
    result.pid = process.processIdentifier();
    EXPECT_TRUE(!process.launched() || process.reaped()) << script;
    return result;
}

} // namespace

TEST(SSHTransportRun, FeedsTheInputAndReturnsTheOutput) {
    platform::Bytes image(300 * 1000);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7);
    auto result = runScript("wc -c", image);
    EXPECT_EQ(result.failure, "");
    EXPECT_EQ(std::stoul(result.output), image.size());
    EXPECT_EQ(result.successCalls, 1);

    // Output written after the child has ended, by something it left behind, still counts.
    auto late = runScript("cat >/dev/null; (sleep 0.05; echo late) &", image);
    EXPECT_EQ(late.failure, "");
    EXPECT_EQ(late.output, "late\n");
    EXPECT_EQ(late.successCalls, 1);
}

TEST(SSHTransportRun, FailuresCarryTheirReasons) {
    struct Case {
        const char* script;
        std::size_t inputSize;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"cat >/dev/null; printf 'line one\\nline two\\n' >&2; exit 255", 10,
         "SSH upload failed (255): line one line two "},
        {"cat >/dev/null; exit 255", 10, "SSH upload failed (255)"},
        {"printf 'bad\\001\\t\\r\\377end' >&2; exit 2", 0, "SSH upload failed (2): bad   \xEF\xBF\xBD" "end"},
        {"kill -KILL $$", 10, "SSH upload failed (9)"},
        {"exit 0", 8 * 1024 * 1024, "SSH closed before receiving the complete image"},
        {"cat >/dev/null; head -c 65537 /dev/zero", 10, "SSH response exceeded size limit"},
        {"cat >/dev/null; head -c 65537 /dev/zero >&2", 10, "SSH response exceeded size limit"},
        {"cat >/dev/null; head -c 65536 /dev/zero", 10, ""},
    };
    for (const auto& c : cases) {
        auto result = runScript(c.script, platform::Bytes(c.inputSize, 'x'));
        EXPECT_EQ(result.failure, c.expected) << c.script;
        EXPECT_EQ(result.successCalls, c.expected.empty() ? 1 : 0) << c.script;
    }
    // Only the first 400 bytes of the error stream are shown.
    auto longError = runScript("head -c 1000 /dev/zero | tr '\\000' e >&2; exit 1");
    EXPECT_EQ(longError.failure, "SSH upload failed (1): " + std::string(400, 'e'));
}

TEST(SSHTransportRun, ASizeLimitKillsTheWholeGroup) {
    auto result = runScript("sleep 1000 & head -c 70000 /dev/zero; wait");
    EXPECT_EQ(result.failure, "SSH response exceeded size limit");
    EXPECT_TRUE(waitUntil([&] { return livingProcessesInGroup(result.pid).empty(); }));
}

TEST(SSHTransportRun, ReadsTheErrorStreamOnceTheChildHasFailed) {
    // The child writes its reason and exits right after the loop has drained the streams and
    // before it sees the child gone: the reason must still reach the message. The operation's
    // clock, read between those two steps, lets the child go and waits for it to end.
    TemporaryDirectory scratch;
    auto pidFile = scratch.file("pid");
    auto goFile = scratch.file("go");
    std::string script = "echo $$ > " + pidFile + ".new; mv " + pidFile + ".new " + pidFile + "; while [ ! -e " +
                         goFile + " ]; do sleep 0.01; done; echo 'Permission denied (publickey).' >&2; exit 255";
    bool released = false;
    auto operation = PasteOperation::create(PasteOperation::newDeadline(), [&] {
        if (!released && ::access(pidFile.c_str(), F_OK) == 0) {
            released = true;
            pid_t pid = std::atoi(readFile(pidFile).c_str());
            scratch.write("go", "");
            waitUntil([&] {
                auto status = processStatus(pid);
                return status && status->state == 'Z';
            });
        }
        return platform::MonotonicInstant::now();
    });
    auto result = runScript(script, {}, 10.0, operation);
    EXPECT_TRUE(released);
    EXPECT_EQ(result.failure, "SSH upload failed (255): Permission denied (publickey). ");
}

TEST(SSHTransportRun, ASuccessSeenBeforeTheDeadlineIsReportedEvenIfTheRunTimesOut) {
    // ssh has exited 0 with the output, but something it started keeps the error stream open.
    auto result = runScript("cat >/dev/null; sleep 1000 </dev/null >/dev/null & echo done", platform::Bytes(10, 'x'),
                            0.5);
    EXPECT_EQ(result.failure, "Upload timed out");
    EXPECT_EQ(result.successCalls, 1);
    EXPECT_TRUE(waitUntil([&] { return livingProcessesInGroup(result.pid).empty(); }))
        << "the leftover member of the group was killed before the child was reaped";
}

TEST(SSHTransportRun, CancellationAndDeadlineStopARunningChild) {
    auto operation = PasteOperation::create();
    operation->cancel("Paste cancelled");
    auto cancelled = runScript("sleep 1000", {}, 10.0, operation);
    EXPECT_EQ(cancelled.failure, "Paste cancelled");

    auto timedOut = runScript("exec sleep 1000", {}, 0.2);
    EXPECT_EQ(timedOut.failure, "Upload timed out");
    EXPECT_TRUE(waitUntil([&] { return livingProcessesInGroup(timedOut.pid).empty(); }));
}

TEST(SSHTransportRun, TheBundledScriptStoresExactlyTheAnnouncedBytesOrRefuses) {
    // The remote login shell's command, run here by sh with a home of our own.
    auto script = readFile(*platform::Bundle::urlForResource("upload", "sh"));
    const std::string uuid = "0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F9";
    struct Case {
        std::string home, id, count, input, failure;
    };
    const std::string refused = "SSH upload failed (1): tarpelix upload: ";
    const std::vector<Case> cases = {
        {"", uuid, "5", "image", ""},
        {"", uuid, "5", "ima", refused + "received 3 of 5 bytes "},
        {"", uuid, "5", "images", refused + "received 6 of 5 bytes "},
        {"", "0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f9", "5", "image", refused + "invalid upload identifier "},
        {"", uuid, "5a", "image", refused + "invalid byte count "},
        {"relative", uuid, "5", "image", refused + "no absolute home directory "},
    };
    for (const auto& c : cases) {
        TemporaryDirectory home;
        platform::ChildProcess process;
        process.executable = "/bin/sh";
        process.arguments = {"-c", "sh -c " + SSHTransport::shellQuote(script) + " tarpelix " +
                                       SSHTransport::shellQuote(c.id) + " " + c.count};
        process.environment = std::vector<std::string>{"PATH=/usr/bin:/bin",
                                                       "HOME=" + (c.home.empty() ? home.path() : c.home)};
        std::string failure, path;
        try {
            auto output = SSHTransport::run(process, platform::Bytes(c.input.begin(), c.input.end()),
                                            platform::systemUptime() + 10, nullptr);
            path = SSHTransport::completedPath(output, *platform::Uuid::parse(uuid));
        } catch (const TerminalUnavailable& error) {
            failure = error.reason;
        }
        EXPECT_EQ(failure, c.failure) << c.id << " " << c.count << " " << c.input;
        auto uploads = home.file(".cache/tarpelix/uploads");
        if (c.failure.empty()) {
            EXPECT_EQ(path, uploads + "/" + uuid + ".png");
            EXPECT_EQ(readFile(path), c.input);
        }
        // Nothing else is left in the folder: no partial file after a refusal.
        int entries = 0;
        if (DIR* dir = ::opendir(uploads.c_str())) {
            while (dirent* entry = ::readdir(dir))
                entries += std::string(entry->d_name) != "." && std::string(entry->d_name) != "..";
            ::closedir(dir);
        }
        EXPECT_EQ(entries, c.failure.empty() ? 1 : 0) << c.input;
    }
}
