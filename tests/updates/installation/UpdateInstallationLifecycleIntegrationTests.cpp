#include "support/CoordinatorFixture.h"

#include "platform/desktop/Updater.h"
#include "platform/desktop/UpdaterControl.h"
#include "platform/foundation/Bundle.h"
#include "updates/UpdateConfiguration.h"
#include "updates/UpdateDelegate.h"
#include "updates/UpdateInstallationLifecycle.h"

namespace tarpelix {
namespace {

using namespace platform;
using namespace tarpelix::testing;

const std::string disabledReason = "Paste cancelled — Tarpelix disabled";

// The coordinator armed for a remote pane whose uploads the test holds, drained and given
// back by the installation lifecycle around an update the simulated framework installs.
class InstallationOverCoordinatorTest : public CoordinatorTest {
protected:
    void SetUp() override {
        CoordinatorTest::SetUp();
        if (!privateNamespaceUnavailableReason().empty()) GTEST_SKIP() << privateNamespaceUnavailableReason();
        openRemotePane();
        startArmed();
        DesktopControl::copyPNG(screenshotPNG());
        std::weak_ptr<PasteCoordinator> weak = coordinator;
        lifecycle = UpdateInstallationLifecycle::create(
            [weak](UpdateInstallationLifecycle::Completion completion) {
                if (auto c = weak.lock()) c->shutdown(std::move(completion));
            },
            [weak] {
                if (auto c = weak.lock()) c->resumeAfterShutdown(true);
            });
        delegate = UpdateDelegate::create(lifecycle, UpdateConfiguration());
        auto driver = std::make_shared<StandardUserDriver>(Bundle::bundleURL(), std::weak_ptr<StandardUserDriverDelegate>{});
        updater = Updater::create(Bundle::bundleURL(), Bundle::bundleURL(), driver, delegate);
        std::optional<UpdaterError> error;
        ASSERT_TRUE(updater->startUpdater(error));
    }

    void TearDown() override {
        updater.reset();
        delegate.reset();
        lifecycle.reset();
        CoordinatorTest::TearDown();
    }

    // Presses Control+V and waits until its upload is held in the transport.
    void pasteInFlight() {
        const int before = transport.calls();
        EXPECT_TRUE(pressControlV().swallowed);
        EXPECT_TRUE(runMainUntil([&] { return transport.calls() == before + 1; }));
    }

    std::shared_ptr<UpdateInstallationLifecycle> lifecycle;
    std::shared_ptr<UpdateDelegate> delegate;
    std::shared_ptr<Updater> updater;
};

TEST_F(InstallationOverCoordinatorTest, TheUpdateInstallsOnlyAfterThePasteInFlightEndsCancelled) {
    pasteInFlight();
    UpdaterControl::scriptNextCheck(UpdaterControl::InstallWithPostponedRelaunch{{"2.0", "200"}});
    updater->checkForUpdates();
    ASSERT_TRUE(waitReported(disabledReason));
    EXPECT_TRUE(lifecycle->isSuspended());
    EXPECT_EQ(lastFeedback()->outcome, PasteFeedback::Outcome::cancelled);
    settle();
    EXPECT_TRUE(UpdaterControl::installations().empty()) << "the paste has not wound down yet";

    transport.release("Upload timed out");
    ASSERT_TRUE(runMainUntil([] { return UpdaterControl::installations().size() == 1; }));
    EXPECT_EQ(UpdaterControl::installations(), (std::vector<std::string>{"200"}));
    EXPECT_EQ(UpdaterControl::terminationRequests(), 1);
    EXPECT_FALSE(coordinator->isBusy());
    EXPECT_FALSE(pressControlV().swallowed) << "the pipeline stays down for the relaunch";
}

TEST_F(InstallationOverCoordinatorTest, AFailedInstallationGivesThePipelineBack) {
    pasteInFlight();
    UpdaterControl::scriptNextCheck(UpdaterControl::InstallWithPostponedRelaunch{
        {"2.0", "200"}, UpdaterError{"SUSparkleErrorDomain", 4005, {}}});
    updater->checkForUpdates();
    ASSERT_TRUE(waitReported(disabledReason));
    settle();
    EXPECT_TRUE(lifecycle->isSuspended());

    const auto ready = readyReports();
    transport.release("Upload timed out");
    ASSERT_TRUE(runMainUntil([&] { return !lifecycle->isSuspended(); }));
    EXPECT_TRUE(UpdaterControl::installations().empty());
    EXPECT_EQ(UpdaterControl::terminationRequests(), 0);
    EXPECT_FALSE(coordinator->isShuttingDown());

    ASSERT_TRUE(waitArmed(ready));
    transport.reset();
    pasteInFlight();
    transport.release();
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(lastFeedback()->outcome, PasteFeedback::Outcome::success);
}

} // namespace
} // namespace tarpelix
