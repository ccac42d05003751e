#include "model/PasteOperation.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/LinuxProfile.h"
#include "ssh/SSHConfiguration.h"
#include "support/Eventually.h"
#include "support/Failures.h"
#include "support/PrivateNamespace.h"
#include "support/Processes.h"
#include "support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <fstream>
#include <limits>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace tarpelix;
using namespace tarpelix::testing;

// Every test of this program runs in a private mount namespace (fresh /tmp and home).
[[maybe_unused]] static const bool privateNamespace =
    enterPrivateMountNamespace({TARPELIX_SOURCE_DIR, TARPELIX_BINARY_DIR});

namespace {

constexpr double noDeadline = std::numeric_limits<double>::infinity();

SSHProcess sessionOf(const std::string& alias, std::uint64_t start) {
    TerminalProcess process{{4242, start, 0}, 34817, 4242, "/usr/bin/ssh", {"ssh", alias}};
    return SSHProcess("/dev/pts/1", process, SSHDestination({"ssh", alias}));
}

class OpenSSHConfiguration : public ::testing::Test {
protected:
    void SetUp() override {
        TARPELIX_REQUIRE_PRIVATE_NAMESPACE();
        SSHConfigurationEvaluator::clearCache();
        home = platform::LinuxProfile::passwordDatabaseHome();
        ::mkdir((home + "/.ssh").c_str(), 0700);
    }
    void TearDown() override {
        for (auto it = mounts.rbegin(); it != mounts.rend(); ++it) unmount(*it);
        removeTree(home + "/.ssh");
        removeTree(scratch.path() + "/calls");
    }

    void writeConfig(const std::string& content) {
        std::ofstream(home + "/.ssh/config", std::ios::trunc) << content;
        ::chmod((home + "/.ssh/config").c_str(), 0600);
    }
    void mountOver(const std::string& source, const std::string& target) {
        bindMount(source, target);
        mounts.push_back(target);
    }
    // Puts a shell script in place of /usr/bin/ssh.
    void replaceSSH(const std::string& body) {
        mountOver(scratch.write("ssh-stand-in", "#!/bin/sh\n" + body + "\n", 0755), "/usr/bin/ssh");
    }
    // Counts the runs of the real ssh.
    void countRuns() {
        std::ifstream in("/usr/bin/ssh", std::ios::binary);
        std::ofstream(scratch.file("real-ssh"), std::ios::binary) << in.rdbuf();
        ::chmod(scratch.file("real-ssh").c_str(), 0755);
        replaceSSH("echo run >> " + scratch.file("calls") + "\nexec " + scratch.file("real-ssh") + " \"$@\"");
    }
    int runs() const {
        auto text = readFile(scratch.file("calls"));
        return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
    }
    SSHConfiguration evaluate(const std::string& alias, const std::optional<SSHProcess>& session = std::nullopt,
                              double deadline = noDeadline, std::shared_ptr<PasteOperation> operation = nullptr) {
        return SSHConfigurationEvaluator().evaluate(SSHDestination({"ssh", alias}), operation, session, deadline);
    }

    std::string home;
    TemporaryDirectory scratch;
    std::vector<std::string> mounts;
};

} // namespace

TEST_F(OpenSSHConfiguration, EvaluatesTheUsersAliasWithTheRealClient) {
    writeConfig("Host work\n  HostName 192.0.2.10\n  User alice\n  Port 2222\n"
                "Host reuse\n  HostName 192.0.2.11\n  ControlPath /tmp/cm-%C\n");
    auto work = evaluate("work");
    EXPECT_EQ(work.hostname, "192.0.2.10");
    EXPECT_EQ(work.user, "alice");
    EXPECT_EQ(work.port, 2222);
    EXPECT_EQ(work.controlPath, std::nullopt);
    EXPECT_EQ(work.fingerprint.size(), 64u);
    auto reuse = evaluate("reuse");
    ASSERT_TRUE(reuse.controlPath.has_value());
    EXPECT_EQ(reuse.controlPath->substr(0, 8), "/tmp/cm-");
    EXPECT_NE(reuse.fingerprint, work.fingerprint);

    writeConfig("Host work\n  Bogus yes\n");
    EXPECT_EQ(failureOf([&] { evaluate("work"); }), "OpenSSH configuration evaluation failed (255); check SSH config");
}

TEST_F(OpenSSHConfiguration, TheCacheServesTheSameProcessAndUnchangedFilesOnly) {
    countRuns();
    auto session = sessionOf("work", 10);
    auto first = evaluate("work", session);
    EXPECT_EQ(evaluate("work", session), first);
    EXPECT_EQ(runs(), 1) << "no config file yet, recorded as absent; Debian's stock Include keeps the cache on";

    writeConfig("Host work\n  User alice\n");
    EXPECT_EQ(evaluate("work", session).user, "alice") << "a newly created config is a miss";
    EXPECT_EQ(runs(), 2);
    evaluate("work", session);
    EXPECT_EQ(runs(), 2);
    evaluate("work", sessionOf("work", 11));
    EXPECT_EQ(runs(), 3) << "another ssh process";
    evaluate("work");
    EXPECT_EQ(runs(), 4) << "no session after one with a session";
    evaluate("work");
    EXPECT_EQ(runs(), 4);
    writeConfig("Host work\n  User carol\n");
    EXPECT_EQ(evaluate("work").user, "carol");
    EXPECT_EQ(runs(), 5);
    evaluate("other");
    EXPECT_EQ(runs(), 6) << "another destination";
}

TEST_F(OpenSSHConfiguration, MatchAndIncludeTurnCachingOff) {
    countRuns();
    writeConfig("Host work\n  User alice\nMatch host nothing\n  User bob\n");
    evaluate("work");
    evaluate("work");
    EXPECT_EQ(runs(), 2);
    writeConfig("Host work\n  User alice\n");
    evaluate("work");
    evaluate("work");
    EXPECT_EQ(runs(), 3);
}

TEST_F(OpenSSHConfiguration, SnapshotRefusesWhatItCannotCapture) {
    TemporaryDirectory etc;
    struct Case {
        const char* name;
        std::string userConfig;     // empty: none
        std::string systemConfig;   // replaces /etc/ssh/ssh_config
        std::vector<std::pair<std::string, std::string>> included; // ssh_config.d entries
        bool cached;
    };
    const std::string stock = "Include /etc/ssh/ssh_config.d/*.conf\nHost *\n  SendEnv LANG\n";
    const std::vector<Case> cases = {
        {"Debian's stock files", "", stock, {}, true},
        {"the macOS stock line", "", "Include /etc/ssh/ssh_config.d/*\n", {}, true},
        {"the stock line with =", "", "Include=/etc/ssh/ssh_config.d/*\n", {}, true},
        {"the stock line in lower case", "", "include /etc/ssh/ssh_config.d/*\n", {}, false},
        {"another include in the system file", "", "Include /etc/ssh/extra\n", {}, false},
        {"include in the user's file", "Include ~/.ssh/more\n", stock, {}, false},
        {"the stock line in the user's file", "Include /etc/ssh/ssh_config.d/*\n", stock, {}, false},
        {"match in the user's file", "  match all\n", stock, {}, false},
        {"match in an included file", "", stock, {{"10-x.conf", "Match user bob\n"}}, false},
        {"include in an included file", "", stock, {{"10-x.conf", "Include /x\n"}}, false},
        {"a comment mentioning match", "# Match all\nHost a\n", stock, {{"10-x.conf", "# Include x\n"}}, true},
        {"hidden entries are not read", "", stock, {{".hidden", "Match all\n"}}, true},
        {"invalid UTF-8", "Host \xff\n", stock, {}, false},
        {"an oversized file", std::string(1024 * 1024 + 1, '#'), stock, {}, false},
    };
    for (const auto& c : cases) {
        auto system = etc.write("ssh_config", c.systemConfig);
        auto includedDirectory = etc.file("ssh_config.d");
        removeTree(includedDirectory);
        ::mkdir(includedDirectory.c_str(), 0755);
        for (const auto& [name, content] : c.included) etc.write("ssh_config.d/" + name, content);
        mountOver(system, "/etc/ssh/ssh_config");
        mountOver(includedDirectory, "/etc/ssh/ssh_config.d");
        if (c.userConfig.empty())
            ::unlink((home + "/.ssh/config").c_str());
        else
            writeConfig(c.userConfig);
        EXPECT_EQ(SSHConfigurationEvaluator::cacheInputs().has_value(), c.cached) << c.name;
        unmount("/etc/ssh/ssh_config.d");
        unmount("/etc/ssh/ssh_config");
        mounts.clear();
    }

    // A directory where the user's config belongs, and more than 64 entries in ssh_config.d.
    ::unlink((home + "/.ssh/config").c_str());
    ::mkdir((home + "/.ssh/config").c_str(), 0700);
    EXPECT_FALSE(SSHConfigurationEvaluator::cacheInputs().has_value());
    ::rmdir((home + "/.ssh/config").c_str());
    EXPECT_TRUE(SSHConfigurationEvaluator::cacheInputs().has_value());
    removeTree(etc.file("many"));
    ::mkdir(etc.file("many").c_str(), 0755);
    for (int i = 0; i < 65; ++i) etc.write("many/.h" + std::to_string(i), "");
    mountOver(etc.file("many"), "/etc/ssh/ssh_config.d");
    EXPECT_FALSE(SSHConfigurationEvaluator::cacheInputs().has_value());
}

TEST_F(OpenSSHConfiguration, OutputTheRealClientCannotProduceIsRefused) {
    const std::string minimal = "user bob\nhostname h\nport 22\n";
    std::string exactlyOneMiB = minimal;
    while (exactlyOneMiB.size() < 1024 * 1024) {
        auto line = std::string("x ") + std::string(std::min<std::size_t>(100, 1024 * 1024 - exactlyOneMiB.size()), 'y');
        if (exactlyOneMiB.size() + line.size() + 1 > 1024 * 1024) line.resize(1024 * 1024 - exactlyOneMiB.size() - 1);
        exactlyOneMiB += line + "\n";
    }
    ASSERT_EQ(exactlyOneMiB.size(), 1024u * 1024u);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {exactlyOneMiB, ""},
        {exactlyOneMiB + "z", "OpenSSH configuration output is too large"},
        {minimal + "hostname again\n", "Ambiguous OpenSSH configuration output"},
        {"user b\xc3\x28\nhostname h\nport 22\n", "OpenSSH returned invalid configuration text"},
    };
    for (const auto& [output, expected] : cases) {
        SSHConfigurationEvaluator::clearCache();
        auto file = scratch.write("output", output);
        replaceSSH("cat " + file);
        EXPECT_EQ(failureOf([&] { evaluate("work"); }), expected) << output.substr(0, 40);
        unmount("/usr/bin/ssh");
        mounts.clear();
    }
    SSHConfigurationEvaluator::clearCache();
    replaceSSH("kill -KILL $$");
    EXPECT_EQ(failureOf([&] { evaluate("work"); }), "OpenSSH configuration evaluation failed (9); check SSH config");
}

TEST_F(OpenSSHConfiguration, DeadlinesAndCancellationStopTheEvaluation) {
    // An ssh that never answers is killed at the deadline and leaves nothing running.
    replaceSSH("echo $$ > " + scratch.file("pid") + "\nexec sleep 1000");
    EXPECT_EQ(failureOf([&] { evaluate("work", std::nullopt, platform::systemUptime() + 0.3); }),
              "OpenSSH configuration evaluation timed out");
    pid_t pid = std::atoi(readFile(scratch.file("pid")).c_str());
    ASSERT_GT(pid, 0);
    EXPECT_FALSE(processStatus(pid).has_value()) << "the evaluation child was reaped";

    EXPECT_EQ(failureOf([&] { evaluate("work", std::nullopt, platform::systemUptime()); }), "Upload timed out");
    auto cancelled = PasteOperation::create();
    cancelled->cancel("Paste cancelled");
    EXPECT_EQ(failureOf([&] { evaluate("work", std::nullopt, noDeadline, cancelled); }), "Paste cancelled");

    // Cancelled while ssh runs: the canceller waits for the pid file of this run, so the
    // earlier run's file goes first.
    ::unlink(scratch.file("pid").c_str());
    auto operation = PasteOperation::create();
    std::thread canceller([&] {
        waitUntil([&] { return ::access(scratch.file("pid").c_str(), F_OK) == 0; });
        operation->cancel("Paste cancelled — focus or input changed");
    });
    EXPECT_EQ(failureOf([&] { evaluate("work", std::nullopt, noDeadline, operation); }),
              "Paste cancelled — focus or input changed");
    canceller.join();
}

TEST_F(OpenSSHConfiguration, ConcurrentEvaluationsEachRunTheirOwnClient) {
    writeConfig("Host one\n  User first\nHost two\n  User second\n");
    std::string users[2];
    std::thread a([&] { users[0] = evaluate("one").user; });
    std::thread b([&] { users[1] = evaluate("two").user; });
    a.join();
    b.join();
    EXPECT_EQ(users[0], "first");
    EXPECT_EQ(users[1], "second");
    EXPECT_EQ(evaluate("two").user, "second");
}
