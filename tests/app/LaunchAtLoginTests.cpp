#include "settings/LaunchAtLoginController.h"

#include "platform/desktop/DesktopControl.h"
#include "platform/desktop/LoginItemsControl.h"
#include "support/MainLoop.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace tarpelix {
namespace {

using platform::LoginItemsControl::Call;
using State = LaunchAtLoginController::State;
namespace LoginItemsControl = platform::LoginItemsControl;

// The controller over the simulated Mac's login items, counting its change notices.
struct LaunchAtLoginTest : ::testing::Test {
    void SetUp() override {
        platform::DesktopControl::reset();
        controller->onChange = [this] { ++changes; };
    }
    void TearDown() override { platform::DesktopControl::reset(); }

    // Waits for the running registration or unregistration to come back.
    void settle() { ASSERT_TRUE(testing::runMainUntil([this] { return !controller->isBusy(); })); }

    std::shared_ptr<LaunchAtLoginController> controller =
        LaunchAtLoginController::create(LaunchAtLoginController::Dependencies::live());
    int changes = 0;
};

TEST_F(LaunchAtLoginTest, RefreshMapsTheServiceStatus) {
    const std::pair<long, State> cases[] = {
        {0, State::notRegistered}, {1, State::enabled}, {2, State::requiresApproval},
        {3, State::notFound},      {7, State::unknown}, {-1, State::unknown},
    };
    EXPECT_EQ(controller->state(), State::unknown);
    int expectedChanges = 0;
    for (const auto& [status, state] : cases) {
        SCOPED_TRACE(status);
        LoginItemsControl::setMainApplicationStatus(status);
        controller->refresh();
        EXPECT_EQ(controller->state(), state);
        EXPECT_EQ(changes, ++expectedChanges);
    }
}

TEST_F(LaunchAtLoginTest, RegistrationAndUnregistrationEndInTheServiceStatusWithTheirMessage) {
    struct Case {
        const char* name;
        long status;
        bool enable;
        bool requiresApproval;
        std::optional<std::string> error;
        State state;
        std::optional<std::string> message;
    };
    const std::string denied = "The operation couldn’t be completed. Operation not permitted";
    const Case cases[] = {
        {"enable", 0, true, false, std::nullopt, State::enabled, std::nullopt},
        {"enable from not found", 3, true, false, std::nullopt, State::enabled, std::nullopt},
        {"enable from an unknown status", 7, true, false, std::nullopt, State::enabled, std::nullopt},
        {"enable, then approval", 0, true, true, std::nullopt, State::requiresApproval, std::nullopt},
        {"enable refused", 0, true, false, denied, State::notRegistered,
         "Couldn’t enable launch at login. " + denied},
        {"disable", 1, false, false, std::nullopt, State::notRegistered, std::nullopt},
        {"disable while waiting for approval", 2, false, false, std::nullopt, State::notRegistered, std::nullopt},
        {"disable refused", 1, false, false, "Not allowed.", State::enabled,
         "Couldn’t disable launch at login. Not allowed."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        platform::DesktopControl::reset();
        changes = 0;
        LoginItemsControl::setMainApplicationStatus(c.status);
        LoginItemsControl::setRegistrationRequiresApproval(c.requiresApproval);
        (c.enable ? LoginItemsControl::setRegistrationError : LoginItemsControl::setUnregistrationError)(c.error);

        controller->setEnabled(c.enable);
        EXPECT_TRUE(controller->isBusy());
        EXPECT_EQ(changes, 1);
        settle();
        EXPECT_EQ(controller->state(), c.state);
        EXPECT_EQ(controller->errorMessage(), c.message);
        EXPECT_EQ(changes, 2);
        EXPECT_EQ(LoginItemsControl::calls(),
                  std::vector<Call>{c.enable ? Call::registration : Call::unregistration});
        EXPECT_EQ(LoginItemsControl::loginItemsOpenings(), 0);
    }
}

TEST_F(LaunchAtLoginTest, AnErrorMessageLastsUntilTheStatusChanges) {
    LoginItemsControl::setRegistrationError("Refused.");
    controller->setEnabled(true);
    settle();
    ASSERT_TRUE(controller->errorMessage());

    controller->refresh(); // same status: the message stays
    EXPECT_EQ(controller->errorMessage(), "Couldn’t enable launch at login. Refused.");
    LoginItemsControl::setMainApplicationStatus(2);
    controller->refresh();
    EXPECT_EQ(controller->errorMessage(), std::nullopt);
}

TEST_F(LaunchAtLoginTest, RequestsTheServiceNeedNotRunOnlyTellTheChange) {
    struct Case {
        const char* name;
        long status;
        bool enable;
        State state;
        int openings;
    };
    const Case cases[] = {
        {"enable while awaiting approval opens Login Items", 2, true, State::requiresApproval, 1},
        {"disable when not registered", 0, false, State::notRegistered, 0},
        {"enable when enabled", 1, true, State::enabled, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        platform::DesktopControl::reset();
        changes = 0;
        LoginItemsControl::setMainApplicationStatus(c.status);
        controller->setEnabled(c.enable);
        EXPECT_FALSE(controller->isBusy());
        EXPECT_EQ(controller->state(), c.state);
        EXPECT_EQ(changes, 1);
        EXPECT_EQ(LoginItemsControl::loginItemsOpenings(), c.openings);
        EXPECT_TRUE(LoginItemsControl::calls().empty());
    }
    LoginItemsControl::setMainApplicationStatus(2);
    LoginItemsControl::approve();
    controller->refresh();
    EXPECT_EQ(controller->state(), State::enabled);
}

TEST_F(LaunchAtLoginTest, RequestsWhileARegistrationRunsAreIgnored) {
    LoginItemsControl::holdNextCall();
    controller->setEnabled(true);
    ASSERT_TRUE(testing::runMainUntil([] { return LoginItemsControl::isCallHeld(); }));

    controller->setEnabled(false);
    LoginItemsControl::setMainApplicationStatus(3);
    controller->refresh();
    EXPECT_TRUE(controller->isBusy());
    EXPECT_EQ(controller->state(), State::notRegistered);
    EXPECT_EQ(changes, 1);

    LoginItemsControl::releaseHeldCall();
    settle();
    EXPECT_EQ(controller->state(), State::enabled);
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(LoginItemsControl::calls(), std::vector<Call>{Call::registration});
}

} // namespace
} // namespace tarpelix
