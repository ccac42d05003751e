#include "app/e2e/ApplicationOverSSH.h"

#include <gtest/gtest.h>

namespace tarpelix::testing {
namespace {

std::string shown(const std::string& status) { return "Tarpelix: " + status; }

// One successful paste reads "Pasting image…" until its outcome and then "Image path handed
// to terminal": the upload's progress reports in between leave the line alone.
TEST_F(ApplicationOverSSH, APasteReadsPastingUntilItsOutcomeAndNeverLikeAFailureMeanwhile) {
    blockingUpload = true;
    runApplication([&] {
        const auto remote = openRemoteShell();
        ASSERT_TRUE(waitArmed());
        observePastes();
        shellReadsALine(remote);
        platform::DesktopControl::copyPNG(screenshotPNG());
        EXPECT_TRUE(pressControlV().swallowed);
        ASSERT_TRUE(runMainUntil([&] { return transport.calls() == 1; }));
        // Held in the upload: the line says the paste is working.
        EXPECT_EQ(toolTip(), shown(AppDelegate::pastingImage));
        EXPECT_EQ(statusLine(), AppDelegate::pastingImage);
        transport.release();
        ASSERT_TRUE(waitStatus(AppDelegate::pathHandedToTerminal));
        ASSERT_TRUE(runMainUntil([&] { return !delegate->pasteCoordinator()->isBusy(); }));

        EXPECT_EQ(statusLines, (std::vector<std::string>{shown(AppDelegate::pastingImage),
                                                         shown(AppDelegate::pathHandedToTerminal)}));
        // The progress reports did come, and each left the line as the feedback set it.
        std::vector<std::string> progress;
        for (const auto& [message, line] : reportedStatus) {
            if (message == PasteCoordinator::uploadingReport || message == PasteCoordinator::insertedReport) {
                progress.push_back(message);
                EXPECT_NE(line, shown(AppDelegate::seeLastPasteStatus)) << message;
            }
        }
        EXPECT_EQ(progress, (std::vector<std::string>{PasteCoordinator::uploadingReport,
                                                      PasteCoordinator::insertedReport}));
        // The transport's path reached the remote shell.
        EXPECT_EQ(lineTheShellReceived(remote),
                  "/home/remote/.cache/tarpelix/uploads/" + feedbacks.back().operationID.uuidString() + ".png");
    });
}

// Every other ending and message still points at Last Paste Status, whatever the line read
// before.
TEST_F(ApplicationOverSSH, AFailedUploadANormalPasteAndAnEventTapMessageEndOnSeeLastPasteStatus) {
    blockingUpload = true;
    runApplication([&] {
        ASSERT_TRUE(waitArmed());
        observePastes();

        // From "Ready": a Control+V in the local shell goes on as a normal paste, reported.
        platform::DesktopControl::copyPNG(screenshotPNG());
        pressControlV();
        const auto normal = std::make_pair(std::string("Normal paste"), shown(AppDelegate::seeLastPasteStatus));
        EXPECT_TRUE(runMainUntil([&] {
            return std::find(reportedStatus.begin(), reportedStatus.end(), normal) != reportedStatus.end();
        })) << ::testing::PrintToString(reportedStatus);
        ASSERT_TRUE(runMainUntil([&] { return !delegate->pasteCoordinator()->isBusy(); }));

        // Through the remote shell: an upload that fails, then one that succeeds.
        openRemoteShell();
        for (const bool succeeds : {false, true}) {
            SCOPED_TRACE(succeeds ? "succeeds" : "fails");
            transport.reset();
            statusLines.clear();
            const int calls = transport.calls();
            platform::DesktopControl::copyPNG(screenshotPNG());
            EXPECT_TRUE(pressControlV().swallowed);
            ASSERT_TRUE(runMainUntil([&] { return transport.calls() == calls + 1; }));
            transport.release(succeeds ? std::nullopt : std::optional<std::string>("Upload failed"));
            const auto& last = succeeds ? AppDelegate::pathHandedToTerminal : AppDelegate::seeLastPasteStatus;
            ASSERT_TRUE(waitStatus(last));
            EXPECT_EQ(statusLines, (std::vector<std::string>{shown(AppDelegate::pastingImage), shown(last)}));
            ASSERT_TRUE(runMainUntil([&] { return !delegate->pasteCoordinator()->isBusy(); }));
        }

        // From "Image path handed to terminal": the system disables the tap, which says so.
        reportedStatus.clear();
        platform::InputEventsControl::disableTaps(platform::EventType::tapDisabledByTimeout);
        ASSERT_TRUE(runMainUntil([&] { return !reportedStatus.empty(); }));
        EXPECT_EQ(reportedStatus.front(),
                  std::make_pair(PasteEventTap::interruptedReport, shown(AppDelegate::seeLastPasteStatus)));
    });
}

} // namespace
} // namespace tarpelix::testing
