#include "ssh/SSHDestination.h"
#include "ssh/SessionInspectionError.h"

#include <gtest/gtest.h>

using namespace tarpelix;

namespace {

const std::string forms = SSHDestination::unsupportedFormsReason;
const std::string syntax = SSHDestination::unsupportedSyntaxReason;
const std::string moshForms = SSHDestination::unsupportedMoshFormsReason;
const std::string moshAddress = SSHDestination::unsupportedMoshAddressReason;

struct Case {
    std::vector<std::string> arguments;
    std::string expected; // the destination, or the error's reason
    bool accepted;
};

std::string outcome(const std::function<SSHDestination()>& parse, bool& accepted) {
    try {
        auto destination = parse();
        accepted = true;
        return destination.original;
    } catch (const SessionInspectionError& error) {
        accepted = false;
        return error.reason;
    }
}

} // namespace

TEST(SSHDestination, AcceptsOnlyAliasOrUserAtHost) {
    const std::vector<Case> cases = {
        {{"ssh", "host"}, "host", true},
        {{"/usr/bin/ssh", "user@host"}, "user@host", true},
        {{"ssh", "my-host_1"}, "my-host_1", true},
        {{"ssh", "a.b"}, "a.b", true},
        {{"ssh", "Host"}, "Host", true},
        // Another ssh, options, remote commands: the vector's shape is refused.
        {{"/opt/homebrew/bin/ssh", "host"}, forms, false},
        {{"/bin/ssh", "host"}, forms, false},
        {{"ssh", "host", "uptime"}, forms, false},
        {{"ssh", "-p", "22", "host"}, forms, false},
        {{"ssh"}, forms, false},
        {{}, forms, false},
        {{"scp", "host"}, forms, false},
        // Option injection and characters outside the set.
        {{"ssh", "-v"}, syntax, false},
        {{"ssh", "-oProxyCommand=touch /tmp/x"}, syntax, false},
        {{"ssh", "user@-oProxyCommand=x"}, syntax, false},
        {{"ssh", "-user@host"}, syntax, false},
        {{"ssh", "user@"}, syntax, false},
        {{"ssh", "@host"}, syntax, false},
        {{"ssh", "a@b@c"}, syntax, false},
        {{"ssh", "user@-host"}, syntax, false},
        {{"ssh", "host:22"}, syntax, false},
        {{"ssh", "ssh://host"}, syntax, false},
        {{"ssh", "[::1]"}, syntax, false},
        {{"ssh", ""}, syntax, false},
        {{"ssh", "h\xC3\xB6st"}, syntax, false},
        {{"ssh", "he\xCC\x81st"}, syntax, false}, // e + combining acute: one character, two scalars
        {{"ssh", "host name"}, syntax, false},
        {{"ssh", "host\n"}, syntax, false},
        {{"ssh", "host;id"}, syntax, false},
        {{"ssh", "$(id)"}, syntax, false},
    };
    for (const auto& c : cases) {
        bool accepted = false;
        auto result = outcome([&] { return SSHDestination(c.arguments); }, accepted);
        EXPECT_EQ(accepted, c.accepted) << ::testing::PrintToString(c.arguments);
        EXPECT_EQ(result, c.expected) << ::testing::PrintToString(c.arguments);
    }
}

TEST(SSHDestination, ReadsTheDestinationTheMoshLauncherEmbedded) {
    const std::vector<Case> cases = {
        {{"mosh-client", "-# user@host |", "192.0.2.7", "60001"}, "user@host", true},
        {{"/opt/homebrew/bin/mosh-client", "-# alias |", "2001:db8::1", "60001"}, "alias", true},
        {{"mosh-client", "-# host |", "127.0.0.1", "00060001"}, "host", true},
        {{"mosh-client", "-# host |", "127.0.0.1", "1"}, "host", true},
        {{"mosh-client", "-# host |", "127.0.0.1", "65535"}, "host", true},
        {{"mosh-client", "-# host |", "127.0.0.1", "0"}, moshForms, false},
        {{"mosh-client", "-# host |", "127.0.0.1", "65536"}, moshForms, false},
        {{"mosh-client", "-# host |", "127.0.0.1", "+60001"}, moshForms, false},
        {{"mosh-client", "-# host |", "127.0.0.1", ""}, moshForms, false},
        {{"mosh-client", "-# host |", "127.0.0.1", "99999999999999999999999"}, moshForms, false},
        {{"mosh-client", "-# host", "127.0.0.1", "60001"}, moshForms, false},
        {{"mosh-client", "# host |", "127.0.0.1", "60001"}, moshForms, false},
        {{"mosh-client", "-# host |", "127.0.0.1"}, moshForms, false},
        {{"mosh-client", "-# host |", "127.0.0.1", "60001", "x"}, moshForms, false},
        {{"mosh", "-# host |", "127.0.0.1", "60001"}, moshForms, false},
        {{"mosh-client", "-# host |", "example.com", "60001"}, moshAddress, false},
        {{"mosh-client", "-# host |", "127.1", "60001"}, moshAddress, false},
        // The port is checked before the address.
        {{"mosh-client", "-# host |", "example.com", "0"}, moshForms, false},
        {{"mosh-client", "-# --ssh=x user@host |", "127.0.0.1", "60001"}, syntax, false},
        {{"mosh-client", "-# |", "127.0.0.1", "60001"}, syntax, false},
        {{"mosh-client", "-#  |", "127.0.0.1", "60001"}, syntax, false},
        {{"mosh-client", "-# -oProxyCommand=x |", "127.0.0.1", "60001"}, syntax, false},
    };
    for (const auto& c : cases) {
        bool accepted = false;
        auto result = outcome([&] { return SSHDestination::mosh(c.arguments); }, accepted);
        EXPECT_EQ(accepted, c.accepted) << ::testing::PrintToString(c.arguments);
        EXPECT_EQ(result, c.expected) << ::testing::PrintToString(c.arguments);
    }
}
