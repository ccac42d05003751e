#include "ssh/SSHTransport.h"
#include "model/TerminalUnavailable.h"

#include <gtest/gtest.h>

using namespace tarpelix;

namespace {

const auto id = *platform::Uuid::parse("0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F9");
const std::string uuid = "0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F9";
const std::string suffix = "/.cache/tarpelix/uploads/" + uuid + ".png";

std::string pathOrFailure(const std::string& output) {
    try {
        return SSHTransport::completedPath(platform::Bytes(output.begin(), output.end()), id);
    } catch (const TerminalUnavailable& error) {
        return "failure: " + error.reason;
    }
}

} // namespace

TEST(SSHUploadProtocol, ArgumentsHaveTheFixedOptionsInOrder) {
    auto arguments = SSHTransport::arguments(SSHDestination({"ssh", "user@host"}), "echo 'hi'", id,
                                             {"ControlMaster=auto", "ControlPersist=60", "ControlPath=/tmp/x/c-1"}, 1234);
    ASSERT_EQ(arguments.size(), 39u);
    EXPECT_EQ(arguments[0], "-T");
    const std::vector<std::string> options = {
        "BatchMode=yes",    "StrictHostKeyChecking=yes", "ConnectionAttempts=1", "ConnectTimeout=10",
        "ClearAllForwardings=yes", "ForwardAgent=no",   "ForwardX11=no",        "Tunnel=no",
        "PermitLocalCommand=no", "RemoteCommand=none",  "RequestTTY=no",        "SessionType=default",
        "StdinNull=no",     "ForkAfterAuthentication=no", "LogLevel=ERROR",     "ControlMaster=auto",
        "ControlPersist=60", "ControlPath=/tmp/x/c-1"};
    for (std::size_t i = 0; i < options.size(); ++i) {
        EXPECT_EQ(arguments[1 + 2 * i], "-o");
        EXPECT_EQ(arguments[2 + 2 * i], options[i]);
    }
    EXPECT_EQ(arguments[37], "user@host");
    EXPECT_EQ(arguments[38], "sh -c 'echo '\\''hi'\\''' tarpelix '" + uuid + "' 1234");

    auto defaults = SSHTransport::arguments(SSHDestination({"ssh", "host"}), "x", id);
    ASSERT_EQ(defaults.size(), 37u);
    EXPECT_EQ(defaults[32], "ControlMaster=no");
    EXPECT_EQ(defaults[34], "ControlPath=none");
    EXPECT_EQ(defaults[36], "sh -c 'x' tarpelix '" + uuid + "'") << "no byte count when none is given";
}

TEST(SSHUploadProtocol, ShellQuoteMakesOneWord) {
    EXPECT_EQ(SSHTransport::shellQuote("plain text"), "'plain text'");
    EXPECT_EQ(SSHTransport::shellQuote(""), "''");
    EXPECT_EQ(SSHTransport::shellQuote("it's"), "'it'\\''s'");
    EXPECT_EQ(SSHTransport::shellQuote("''"), "''\\'''\\'''");
}

TEST(SSHUploadProtocol, TheCompletionMarkerNamesExactlyTheExpectedFile) {
    const std::string good = "/home/u" + suffix;
    const std::string marker = "TARPELIX_UPLOAD_" + uuid + "=";
    const std::string lowerSuffix = "/.cache/tarpelix/uploads/0f1e2d3c-4b5a-4978-8695-a4b3c2d1e0f9.png";
    const std::string missing = "failure: Missing or ambiguous upload completion marker";
    const std::string badPath = "failure: Unsupported remote image path";
    const std::string badHome = "failure: Unsupported remote home path";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {marker + good + "\n", good},
        {"Last login: today\n" + marker + good + "\nbye\n\n", good},
        {marker + good, missing},
        {marker + good + "\n" + marker + good + "\n", missing},
        {marker + good + "\nTARPELIX_UPLOAD_other\n", missing},
        {"TARPELIX_UPLOAD_00000000-0000-0000-0000-000000000000=/home/u/.cache/tarpelix/uploads/"
         "00000000-0000-0000-0000-000000000000.png\n",
         missing},
        {"", missing},
        {"\n", missing},
        {" " + marker + good + "\n" + marker + good + "\n", good}, // only lines that begin with it count
        {marker + "/home/u" + lowerSuffix + "\n", badPath},
        {marker + "/home/a b" + suffix + "\n", badPath},
        {marker + "/home/~u" + suffix + "\n", badPath},
        {marker + "/home/\xC3\xBC" + suffix + "\n", badPath},
        {marker + "home/u" + suffix + "\n", badPath},
        {marker + "/home/u" + suffix + ".png\n", badPath},
        {marker + "/home/u/x.png\n", badPath},
        {marker + suffix + "\n", badHome},
        {marker + "/" + suffix + "\n", badHome},
        {marker + "/home//u" + suffix + "\n", badHome},
        {marker + "/home/./u" + suffix + "\n", badHome},
        {marker + "/home/../u" + suffix + "\n", badHome},
        {marker + "/home/u/.." + suffix + "\n", badHome},
        {marker + "/home/u\r" + suffix + "\n", badPath},
        {marker + good + "\n\xff\n", "failure: Invalid upload response encoding"},
    };
    for (const auto& [output, expected] : cases) EXPECT_EQ(pathOrFailure(output), expected) << output;
}
