#include "platform/foundation/Files.h"
#include "platform/foundation/SystemInfo.h"
#include "diagnostics/DiagnosticReport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using namespace tarpelix;

// Closing a file handle a second time (the writer closes "once more" on every exit) must not
// close a descriptor number that the process has reused in the meantime.
TEST(FileDescriptor, ASecondCloseNeverClosesAReusedNumber) {
    platform::files::FileDescriptor first(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(first);
    int number = first.get();
    first.closeChecked();
    int reused = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(reused, number); // the lowest free number comes back
    first.close();
    first.closeChecked();
    EXPECT_NE(::fcntl(reused, F_GETFD), -1) << "the reused descriptor was closed";
    ::close(reused);
}

TEST(SystemInfo, TheReportTakesTheVersionsFromThePlatform) {
    auto saved = platform::SystemInfo::operatingSystemVersion();
    platform::SystemInfo::setOperatingSystemVersion({26, 1, 2});
    auto text = DiagnosticReport::make(DiagnosticSnapshot{}, TransferStorage::Status{});
    platform::SystemInfo::setOperatingSystemVersion(saved);
    EXPECT_NE(text.find("\nmacOS version: 26.1.2\n"), std::string::npos);
    EXPECT_NE(text.find("\nApp version: " + std::string(TARPELIX_VERSION) + "\n"), std::string::npos);
}
