#include "ssh/SSHConfiguration.h"
#include "support/Failures.h"

#include <gtest/gtest.h>

using namespace tarpelix;

namespace {

platform::Bytes bytes(const std::string& text) { return platform::Bytes(text.begin(), text.end()); }

std::string parseFailure(const std::string& text) {
    return tarpelix::testing::failureOf([&] { SSHConfiguration::parse(bytes(text)); });
}

const std::string valid = "host alias\nuser bob\nhostname 192.0.2.1\nport 2222\nidentityfile ~/.ssh/a\n"
                          "identityfile ~/.ssh/b\ncontrolpath none\n";

} // namespace

TEST(SSHConfigurationOutput, KeepsFourKeysAndFingerprintsTheRawBytes) {
    auto configuration = SSHConfiguration::parse(bytes(valid));
    EXPECT_EQ(configuration.user, "bob");
    EXPECT_EQ(configuration.hostname, "192.0.2.1");
    EXPECT_EQ(configuration.port, 2222);
    EXPECT_EQ(configuration.controlPath, std::optional<std::string>("none"));
    EXPECT_EQ(configuration.fingerprint.size(), 64u);
    EXPECT_EQ(configuration.fingerprint.find_first_not_of("0123456789abcdef"), std::string::npos);

    // Any byte changes the fingerprint, the final newline included.
    EXPECT_NE(SSHConfiguration::parse(bytes(valid.substr(0, valid.size() - 1))).fingerprint, configuration.fingerprint);
    auto withoutControlPath = SSHConfiguration::parse(bytes("  user bob\nhostname h\nport 22"));
    EXPECT_EQ(withoutControlPath.controlPath, std::nullopt);
    EXPECT_EQ(withoutControlPath.user, "bob") << "blanks before the key are skipped";
    EXPECT_NE(withoutControlPath, configuration);
}

TEST(SSHConfigurationOutput, RefusesWhatCannotBeTrusted) {
    const std::string invalid = "OpenSSH did not provide a valid hostname, user, and port";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {valid + "hostname other\n", "Ambiguous OpenSSH configuration output"},
        {valid + "controlpath /tmp/x\n", "Ambiguous OpenSSH configuration output"},
        {valid + "forwardagent\n", "Malformed OpenSSH configuration output"},
        {valid + "forwardagent \n", "Malformed OpenSSH configuration output"},
        {"   \n" + valid, "Malformed OpenSSH configuration output"},
        {"user bob\nhostname h\nport 0\n", invalid},
        {"user bob\nhostname h\nport 65536\n", invalid},
        {"user bob\nhostname h\nport 22x\n", invalid},
        {"user  bob\nhostname h\nport 22\n", invalid},
        {"user bob\nhostname h h\nport 22\n", invalid},
        {"user bob\xC2\xA0x\nhostname h\nport 22\n", invalid}, // no-break space
        {"user bob\x7f\nhostname h\nport 22\n", invalid},
        {"user bob\nhostname h\xE2\x80\x8Bx\nport 22\n", invalid}, // zero-width space (format)
        {"user bob\nport 22\n", invalid},
        {"", invalid},
        {"user b\xff\nhostname h\nport 22\n", "OpenSSH returned invalid configuration text"},
        {"user bob\nhostname h\nport 65535\nUser alice\n", ""}, // keys match in lower case only
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(parseFailure(text), expected) << text;
}

TEST(SSHConfigurationOutput, CacheEntriesMatchExactlyAndExpire) {
    SSHDestination destination({"ssh", "host"});
    TerminalProcess process{{7, 1, 2}, 34817, 7, "/usr/bin/ssh", {"ssh", "host"}};
    SSHProcess session("/dev/pts/1", process, destination);
    SSHConfigurationCache entry{destination, session, bytes("inputs"), 100.0, SSHConfiguration::parse(bytes(valid))};
    EXPECT_TRUE(entry.matches(destination, session, bytes("inputs"), 99.999));
    EXPECT_FALSE(entry.matches(destination, session, bytes("inputs"), 100.0)) << "expires at exactly `expires`";
    EXPECT_FALSE(entry.matches(SSHDestination({"ssh", "Host"}), session, bytes("inputs"), 50));
    EXPECT_FALSE(entry.matches(destination, std::nullopt, bytes("inputs"), 50));
    EXPECT_FALSE(entry.matches(destination, session, bytes("inputs2"), 50));
    auto restarted = process;
    restarted.identity.startSeconds += 1;
    EXPECT_FALSE(entry.matches(destination, SSHProcess("/dev/pts/1", restarted, destination), bytes("inputs"), 50));
    SSHConfigurationCache anonymous{destination, std::nullopt, bytes("inputs"), 100.0, entry.configuration};
    EXPECT_TRUE(anonymous.matches(destination, std::nullopt, bytes("inputs"), 50));
    EXPECT_FALSE(anonymous.matches(destination, session, bytes("inputs"), 50));
}
