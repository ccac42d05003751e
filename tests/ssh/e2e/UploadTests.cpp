#include "model/PasteOperation.h"
#include "platform/foundation/Clock.h"
#include "ssh/SSHConnectionReuse.h"
#include "ssh/SSHTransport.h"
#include "support/PrivateNamespace.h"
#include "support/Processes.h"
#include "support/SSHServer.h"
#include "model/TerminalUnavailable.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fstream>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarpelix;
using namespace tarpelix::testing;

// Every test of this program runs in a private mount namespace: its own /tmp (control
// sockets) and home directory (the client's ~/.ssh and the uploads' destination).
[[maybe_unused]] static const bool privateNamespace =
    enterPrivateMountNamespace({TARPELIX_SOURCE_DIR, TARPELIX_BINARY_DIR});

namespace {

platform::Bytes randomImage(std::size_t size) {
    std::mt19937 generator(static_cast<unsigned>(size));
    platform::Bytes bytes(size);
    for (auto& byte : bytes) byte = static_cast<std::uint8_t>(generator());
    return bytes;
}

struct Outcome {
    std::string path;
    std::string failure;
    int confirmations = 0;
    std::string confirmedPath;
};

Outcome upload(const std::string& alias, const platform::Bytes& image, const platform::Uuid& id,
               double deadline = platform::systemUptime() + SSHTransport::operationTimeout) {
    Outcome outcome;
    try {
        outcome.path = SSHTransport().upload(image, SSHDestination({"ssh", alias}), deadline, PasteOperation::create(),
                                             std::nullopt, id, [&](const std::string& path) {
                                                 ++outcome.confirmations;
                                                 outcome.confirmedPath = path;
                                             });
    } catch (const TerminalUnavailable& error) {
        outcome.failure = error.reason;
    }
    return outcome;
}

// The upload clients still running: ssh processes carrying the upload's remote command
// (persisting connection masters and their proxies are not upload clients).
std::vector<pid_t> runningClients() {
    std::vector<pid_t> clients;
    for (pid_t pid : otherProcessesInNamespace()) {
        if (executableOf(pid) != "/usr/bin/ssh") continue;
        std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline");
        std::string arguments((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (arguments.find(std::string("sh -c ")) != std::string::npos) clients.push_back(pid);
    }
    return clients;
}

class Upload : public ::testing::Test {
protected:
    void SetUp() override { TARPELIX_REQUIRE_PRIVATE_NAMESPACE(); }
};

} // namespace

TEST_F(Upload, ArrivesByteIdenticalAndTheSecondRidesOnTheFirstConnection) {
    SSHServer server;
    auto image = randomImage(300 * 1000);
    auto id = platform::Uuid::random();
    auto first = upload(SSHServer::alias, image, id);
    ASSERT_EQ(first.failure, "") << server.log();
    auto expected = server.home() + "/.cache/tarpelix/uploads/" + id.uuidString() + ".png";
    EXPECT_EQ(first.path, expected);
    EXPECT_EQ(first.confirmations, 1);
    EXPECT_EQ(first.confirmedPath, expected);
    auto stored = readFile(expected);
    EXPECT_TRUE(stored == std::string(image.begin(), image.end())) << "the stored file differs";
    struct stat status {};
    ASSERT_EQ(::stat(expected.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat((server.home() + "/.cache/tarpelix/uploads").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);

    auto secondID = platform::Uuid::random();
    auto second = upload(SSHServer::alias, randomImage(1000), secondID);
    ASSERT_EQ(second.failure, "");
    EXPECT_EQ(second.path, server.home() + "/.cache/tarpelix/uploads/" + secondID.uuidString() + ".png");
    EXPECT_EQ(server.acceptedAuthentications(), 1) << "the second upload reused the master connection";

    // The control socket lives in a private directory of ours.
    auto directory = SSHConnectionReuse::directory();
    ASSERT_EQ(::lstat(directory.c_str(), &status), 0);
    EXPECT_TRUE(S_ISDIR(status.st_mode));
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    int sockets = 0;
    DIR* dir = ::opendir(directory.c_str());
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        ASSERT_EQ(::lstat((directory + "/" + name).c_str(), &status), 0);
        EXPECT_TRUE(S_ISSOCK(status.st_mode)) << name;
        EXPECT_EQ(status.st_uid, ::getuid());
        EXPECT_EQ(name.size(), 42u);
        ++sockets;
    }
    ::closedir(dir);
    EXPECT_EQ(sockets, 1);
    EXPECT_TRUE(runningClients().empty());
}

TEST_F(Upload, ThroughProxyJumpAndProxyCommandWithReuse) {
    SSHServer server;
    server.writeClientConfig("Host via-jump\n  HostName 127.0.0.1\n  Port " + std::to_string(server.port()) +
                             "\n  User root\n  IdentityFile ~/.ssh/id_ed25519\n  IdentitiesOnly yes\n  ProxyJump " +
                             SSHServer::alias + "\nHost via-command\n  HostName 127.0.0.1\n  Port " +
                             std::to_string(server.port()) +
                             "\n  User root\n  IdentityFile ~/.ssh/id_ed25519\n  IdentitiesOnly yes\n"
                             "  ProxyCommand /usr/bin/ssh -W %h:%p " + SSHServer::alias + "\n");
    for (const std::string alias : {"via-jump", "via-command"}) {
        int before = server.acceptedAuthentications();
        for (int round = 0; round < 2; ++round) {
            auto id = platform::Uuid::random();
            auto image = randomImage(20000 + static_cast<std::size_t>(round));
            // A loop that waited for the proxy's error stream would end in "Upload timed out".
            auto outcome = upload(alias, image, id, platform::systemUptime() + 10);
            ASSERT_EQ(outcome.failure, "") << alias << "\n" << server.log();
            EXPECT_EQ(outcome.confirmations, 1);
            auto stored = readFile(outcome.path);
            EXPECT_TRUE(stored == std::string(image.begin(), image.end())) << alias;
        }
        // The proxy and the destination authenticate once each; the second upload rides on the master.
        EXPECT_EQ(server.acceptedAuthentications() - before, 2) << alias;
    }
    EXPECT_TRUE(runningClients().empty());
}

TEST_F(Upload, HostileOrBrokenRemotesFailWithTheirReasons) {
    struct Case {
        const char* name;
        std::string command; // the remote side, in place of the requested command
        std::size_t imageSize;
        std::string expected;
        double seconds = SSHTransport::operationTimeout;
    };
    const std::string runReal = "eval \"$SSH_ORIGINAL_COMMAND\"";
    const std::vector<Case> cases = {
        {"a marker for another identifier",
         "cat >/dev/null; echo TARPELIX_UPLOAD_00000000-0000-0000-0000-000000000000=/root/.cache/tarpelix/uploads/"
         "00000000-0000-0000-0000-000000000000.png",
         1000, "Missing or ambiguous upload completion marker"},
        {"two markers", "out=$(" + runReal + "); echo \"$out\"; echo \"$out\"", 1000,
         "Missing or ambiguous upload completion marker"},
        {"no final newline", "out=$(" + runReal + "); printf %s \"$out\"", 1000,
         "Missing or ambiguous upload completion marker"},
        {"a home with a blank", "mkdir -p '/tmp/a b'; HOME='/tmp/a b'; export HOME; " + runReal, 1000,
         "Unsupported remote image path"},
        {"a home with ..", "HOME=/tmp/../tmp; export HOME; " + runReal, 1000, "Unsupported remote home path"},
        {"too much output", "cat >/dev/null; head -c 70000 /dev/zero | tr '\\000' x", 1000,
         "SSH response exceeded size limit"},
        {"too much error output", "cat >/dev/null; head -c 70000 /dev/zero | tr '\\000' x >&2", 1000,
         "SSH response exceeded size limit"},
        {"exit 0 without reading the image", "exit 0", 8 * 1024 * 1024,
         "SSH closed before receiving the complete image"},
        {"the script's own refusal", "cat >/dev/null; echo 'tarpelix upload: no space' >&2; exit 3", 1000,
         "SSH upload failed (3): tarpelix upload: no space "},
        {"a remote that never answers", "exec sleep 1000", 1000, "Upload timed out", 3.0},
    };
    for (const auto& c : cases) {
        SSHServer::Options options;
        options.forceCommand = c.command;
        SSHServer hostile(options);
        auto outcome = upload(SSHServer::alias, randomImage(c.imageSize), platform::Uuid::random(),
                              platform::systemUptime() + c.seconds);
        EXPECT_EQ(outcome.failure, c.expected) << c.name << "\n" << hostile.log();
        EXPECT_EQ(outcome.confirmations, 0) << c.name;
        EXPECT_TRUE(runningClients().empty()) << c.name << ": an ssh client was left running";
    }
}

TEST_F(Upload, AWrongHostKeyOrARefusedKeyIsAFailedUpload) {
    {
        SSHServer server;
        server.replaceKnownHostKey();
        auto outcome = upload(SSHServer::alias, randomImage(100), platform::Uuid::random());
        EXPECT_EQ(outcome.failure.rfind("SSH upload failed (255): @@@", 0), 0u) << outcome.failure;
        EXPECT_NE(outcome.failure.find("REMOTE HOST IDENTIFICATION HAS CHANGED"), std::string::npos);
        EXPECT_EQ(outcome.failure.size(), std::string("SSH upload failed (255): ").size() + 400)
            << "the detail is the first 400 bytes";
        EXPECT_EQ(outcome.confirmations, 0);
        ::truncate((server.home() + "/.ssh/known_hosts").c_str(), 0);
        outcome = upload(SSHServer::alias, randomImage(100), platform::Uuid::random());
        EXPECT_EQ(outcome.failure, "SSH upload failed (255): No ED25519 host key is known for [127.0.0.1]:" +
                                       std::to_string(server.port()) +
                                       " and you have requested strict checking.  Host key verification failed.  ");
    }
    {
        SSHServer server;
        server.refuseClientKey();
        auto outcome = upload(SSHServer::alias, randomImage(100), platform::Uuid::random());
        EXPECT_EQ(outcome.failure.rfind("SSH upload failed (255): ", 0), 0u) << outcome.failure;
        EXPECT_NE(outcome.failure.find("Permission denied"), std::string::npos) << outcome.failure;
        EXPECT_EQ(outcome.confirmations, 0);
    }
}
