#pragma once

#include "onboarding/OnboardingFixture.h"
#include "onboarding/OnboardingLifecycleController.h"
#include "settings/PermissionFakes.h"

#include "platform/desktop/DesktopControl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace tarpelix::testing {

// A login-item service that answers a fixed status and keeps registrations waiting.
struct FakeLoginItems {
    LaunchAtLoginController::State status = LaunchAtLoginController::State::notRegistered;
    std::vector<LaunchAtLoginController::Completion> registrations;
    int openLoginItems = 0;

    LaunchAtLoginController::Dependencies dependencies() {
        return {
            .status = [this] { return status; },
            .registerItem = [this](LaunchAtLoginController::Completion done) { registrations.push_back(std::move(done)); },
            .unregisterItem = [this](LaunchAtLoginController::Completion done) { registrations.push_back(std::move(done)); },
            .openLoginItems = [this] { ++openLoginItems; },
        };
    }
};

// The lifecycle controller over the permission model with a fake system, a fake login-item
// service, real user defaults and a discovery the test sets; every action it takes is recorded.
struct LifecycleTest : ::testing::Test {
    void SetUp() override { platform::DesktopControl::reset(); }
    void TearDown() override {
        if (controller) controller->stop();
        platform::DesktopControl::reset();
    }

    // Back to a world without a controller, keeping the stored progress.
    void reset() {
        if (controller) controller->stop();
        controller.reset();
        permissions.reset();
        login.reset();
        fake = {};
        loginItems = {};
        calls.clear();
        discoveries = scheduled = cancelled = 0;
        tick = nullptr;
        platform::DesktopControl::reset();
    }

    OnboardingLifecycleController::Actions actions() {
        OnboardingLifecycleController::Actions a;
        auto record = [this](std::string name) { return [this, name] { calls.push_back(name); }; };
        a.refreshSettingsPermissions = record("refreshSettingsPermissions");
        a.refreshSettingsLogin = record("refreshSettingsLogin");
        a.permissionRequestsDidChange = record("permissionRequestsDidChange");
        a.refreshMenu = record("refreshMenu");
        a.openPermissions = record("openPermissions");
        a.openHelp = record("openHelp");
        a.openTerminal = [this](const std::string& id) { calls.push_back("openTerminal " + id); };
        a.scheduleRefresh = [this](std::function<void()> t) {
            ++scheduled;
            tick = std::move(t);
            return OnboardingLifecycleController::Canceller([this] {
                ++cancelled;
                tick = nullptr;
            });
        };
        a.openLastPaste = record("openLastPaste");
        return a;
    }

    std::shared_ptr<OnboardingLifecycleController> make() {
        permissions = PermissionSettingsController::create(fake.dependencies(), [] { return 1000.0; });
        login = LaunchAtLoginController::create(loginItems.dependencies());
        controller = OnboardingLifecycleController::create(
            world.defaults,
            [this] {
                ++discoveries;
                return world.installed;
            },
            permissions, login, actions());
        return controller;
    }

    int count(const std::string& call) const { return int(std::count(calls.begin(), calls.end(), call)); }

    // Answers the newest Automation probe of the terminal.
    void answer(const std::string& id, AutomationStatus status) {
        auto probe = std::find_if(fake.probes.rbegin(), fake.probes.rend(), [&](const auto& p) { return p.id == id; });
        ASSERT_NE(probe, fake.probes.rend()) << id;
        probe->answer(status);
    }
    // A running, installed terminal whose Automation is allowed, with Accessibility and the
    // clipboard allowed: everything a paste into it needs.
    void allowEverything(const std::string& id) {
        fake.accessibility = true;
        fake.clipboard = ClipboardStatus::alwaysAllow;
        fake.running[id] = true;
        fake.installations[id] = installation::Available{"/Applications/" + id + ".app"};
        permissions->refresh();
        answer(id, AutomationStatus::allowed);
    }
    // Stored progress of a setup shown before, on `step` with `id` selected.
    void storeProgress(int step, const std::string& id, bool completed = false, bool verified = false) {
        world.store(R"({"presented":true,"step":)" + std::to_string(step) + R"(,"selectedTerminalID":")" + id +
                    R"(","completed":)" + (completed ? "true" : "false") + R"(,"firstPasteVerified":)" +
                    (verified ? "true" : "false") + (completed ? R"(,"loginChoice":"enable"})" : "}"));
    }

    ModelWorld world;
    FakePermissionSystem fake;
    FakeLoginItems loginItems;
    std::shared_ptr<PermissionSettingsController> permissions;
    std::shared_ptr<LaunchAtLoginController> login;
    std::shared_ptr<OnboardingLifecycleController> controller;
    std::vector<std::string> calls;
    int discoveries = 0;
    int scheduled = 0;
    int cancelled = 0;
    std::function<void()> tick;
};

} // namespace tarpelix::testing
