#include "model/PasteOperation.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/LinuxProfile.h"
#include "platform/foundation/Bundle.h"
#include "ssh/SSHConnectionReuse.h"
#include "ssh/SSHTransport.h"
#include "support/Failures.h"
#include "support/PrivateNamespace.h"
#include "support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <fstream>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarpelix;
using namespace tarpelix::testing;

namespace {

SSHConfiguration configuration(const std::string& fingerprint) {
    SSHConfiguration value;
    value.hostname = "192.0.2.1";
    value.user = "bob";
    value.port = 22;
    value.fingerprint = fingerprint;
    return value;
}

const std::string fingerprintA(64, 'a');
const std::string fingerprintB(64, 'b');
const SSHDestination alias({"ssh", "work"});
const std::string privateText = "SSH socket directory must be private, owned, and not a symlink";

std::vector<std::string> options(double deadline = std::numeric_limits<double>::infinity(),
                                 std::shared_ptr<PasteOperation> operation = nullptr) {
    return SSHConnectionReuse().options(alias, configuration(fingerprintA), deadline, operation);
}

class ConnectionReuse : public ::testing::Test {
protected:
    void SetUp() override {
        TARPELIX_REQUIRE_PRIVATE_NAMESPACE();
        directory = SSHConnectionReuse::directory();
        removeTree(directory);
    }
    void TearDown() override { removeTree(directory); }
    std::string directory;
};

} // namespace

TEST(SSHConnectionReuseNames, DependOnDestinationAndFingerprint) {
    auto name = SSHConnectionReuse::socketName(alias, configuration(fingerprintA));
    EXPECT_EQ(name.size(), 42u);
    EXPECT_EQ(name.substr(0, 2), "c-");
    EXPECT_EQ(name.find_first_not_of("0123456789abcdef", 2), std::string::npos);
    EXPECT_EQ(name, SSHConnectionReuse::socketName(alias, configuration(fingerprintA)));
    EXPECT_NE(name, SSHConnectionReuse::socketName(alias, configuration(fingerprintB)));
    EXPECT_NE(name, SSHConnectionReuse::socketName(SSHDestination({"ssh", "bob@192.0.2.1"}), configuration(fingerprintA)));
    EXPECT_EQ(SSHConnectionReuse::directory(), "/tmp/tarpelix-ssh-" + std::to_string(::getuid()));
}

TEST_F(ConnectionReuse, FirstUseMakesAPrivateDirectory) {
    auto result = options();
    ASSERT_EQ(result.size(), 3u);
    EXPECT_EQ(result[0], "ControlMaster=auto");
    EXPECT_EQ(result[1], "ControlPersist=60");
    EXPECT_EQ(result[2], "ControlPath=" + directory + "/" + SSHConnectionReuse::socketName(alias, configuration(fingerprintA)));
    struct stat status {};
    ASSERT_EQ(::lstat(directory.c_str(), &status), 0);
    EXPECT_TRUE(S_ISDIR(status.st_mode));
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    EXPECT_EQ(options(), result) << "an existing private directory is accepted";
}

TEST_F(ConnectionReuse, RefusesAnythingOthersCouldHavePlanted) {
    for (mode_t mode : {0755, 0711, 0750}) {
        ::mkdir(directory.c_str(), 0700);
        ::chmod(directory.c_str(), mode);
        EXPECT_EQ(failureOf([] { options(); }), privateText) << std::oct << mode;
        struct stat status {};
        ::lstat(directory.c_str(), &status);
        EXPECT_EQ(status.st_mode & 0777, mode) << "nothing is repaired";
        ::rmdir(directory.c_str());
    }

    TemporaryDirectory elsewhere;
    ::chmod(elsewhere.path().c_str(), 0700);
    ASSERT_EQ(::symlink(elsewhere.path().c_str(), directory.c_str()), 0);
    EXPECT_EQ(failureOf([] { options(); }), privateText);
    ::unlink(directory.c_str());

    if (::geteuid() == 0) {
        ::mkdir(directory.c_str(), 0700);
        ASSERT_EQ(::chown(directory.c_str(), 65534, 65534), 0);
        EXPECT_EQ(failureOf([] { options(); }), privateText);
        ::rmdir(directory.c_str());
    }

    std::ofstream(directory) << "a file";
    EXPECT_EQ(failureOf([] { options(); }), privateText);
    ::unlink(directory.c_str());

    // Something already at the control path: only a socket of ours is accepted.
    options();
    auto controlPath = directory + "/" + SSHConnectionReuse::socketName(alias, configuration(fingerprintA));
    std::ofstream(controlPath) << "x";
    EXPECT_EQ(failureOf([] { options(); }), "Unexpected file at SSH control socket path");
    ::unlink(controlPath.c_str());
    makeStaleSocket(controlPath);
    EXPECT_EQ(failureOf([] { options(); }), "") << "a stale socket of our own is accepted unchanged";
    if (::geteuid() == 0) {
        ASSERT_EQ(::lchown(controlPath.c_str(), 65534, 65534), 0);
        EXPECT_EQ(failureOf([] { options(); }), "Unexpected file at SSH control socket path");
    }
}

TEST_F(ConnectionReuse, ChecksTheOperationAndTheDeadlineFirst) {
    auto cancelled = PasteOperation::create();
    cancelled->cancel("Paste cancelled");
    EXPECT_EQ(failureOf([&] { options(std::numeric_limits<double>::infinity(), cancelled); }), "Paste cancelled");
    EXPECT_EQ(failureOf([] { options(platform::systemUptime()); }), "Upload timed out");
    struct stat status {};
    EXPECT_NE(::lstat(directory.c_str(), &status), 0) << "nothing was created";
}

TEST(SSHUploadEntry, RefusesBeforeStartingAnyProcess) {
    SSHTransport transport;
    auto upload = [&](const platform::Bytes& image, double deadline, std::shared_ptr<PasteOperation> operation) {
        return failureOf([&] {
            transport.upload(image, alias, deadline, operation, configuration(fingerprintA));
        });
    };
    const double later = platform::systemUptime() + 30;
    EXPECT_EQ(upload({}, later, nullptr), "Empty image");
    EXPECT_EQ(upload({1, 2, 3}, platform::systemUptime(), nullptr), "Upload timed out");
    auto cancelled = PasteOperation::create();
    cancelled->cancel("Paste cancelled — Mac slept or woke; paste again");
    EXPECT_EQ(upload({1, 2, 3}, later, cancelled), "Paste cancelled — Mac slept or woke; paste again");
}

TEST(SSHUploadEntry, AMissingBundledScriptFailsEveryUpload) {
    TARPELIX_REQUIRE_PRIVATE_NAMESPACE();
    // The script is read once per process, so this runs in a child of its own.
    EXPECT_EXIT(
        {
            TemporaryDirectory empty;
            platform::BundleControl::setResourceDirectory(empty.path());
            for (int attempt = 0; attempt < 2; ++attempt) {
                auto text = failureOf([] {
                    SSHTransport().upload({1}, alias, platform::systemUptime() + 30, nullptr, configuration(fingerprintA));
                });
                if (text != "Bundled upload script is missing") std::_Exit(1);
            }
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}
