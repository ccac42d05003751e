#include "platform/foundation/Clock.h"
#include "ssh/SSHTransport.h"
#include "model/TerminalUnavailable.h"

#include <gtest/gtest.h>

#include <limits>

using namespace tarpelix;

TEST(SSHTransportDeadline, PassesOnceTheUptimeReachesIt) {
    EXPECT_NO_THROW(SSHTransport::checkDeadline(std::numeric_limits<double>::infinity()));
    EXPECT_NO_THROW(SSHTransport::checkDeadline(platform::systemUptime() + 60));
    // The uptime at the call is at least the uptime read before it: a deadline equal to it has passed.
    for (double deadline : {platform::systemUptime(), platform::systemUptime() - 1, 0.0}) {
        try {
            SSHTransport::checkDeadline(deadline);
            FAIL() << "deadline " << deadline << " did not pass";
        } catch (const TerminalUnavailable& error) {
            EXPECT_EQ(error.reason, "Upload timed out");
        }
    }
}
