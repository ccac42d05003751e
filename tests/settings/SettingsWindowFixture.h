#pragma once

#include "platform/appkit/AppKitControl.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Label.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/desktop/SystemSettingsControl.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/RunLoopControl.h"
#include "settings/SettingsWindowController.h"
#include "support/MainLoop.h"
#include "support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace tarpelix::testing {

// A Settings window over fake closures that keep every completion for the test to answer.
struct SettingsWindowTest : ::testing::Test {
    using Controller = SettingsWindowController;

    TemporaryDirectory directory{"tarpelix-settings"};
    std::shared_ptr<platform::UserDefaults> defaults = platform::UserDefaults::create(directory.file("defaults.plist"));
    std::vector<Controller::LoadCompletion> loads;
    std::vector<Controller::ClearCompletion> imageClears;
    std::vector<Controller::ClearCompletion> logClears;
    std::vector<Controller::ReportCompletion> reports;
    std::vector<std::function<void(bool)>> confirmations;
    bool busy = false;
    bool realConfirmation = false;
    std::shared_ptr<LaunchAtLoginController> login;
    UpdatePresentation updates = Controller::defaultUpdatePresentation();
    std::vector<bool> automaticChecks;
    int updateChecks = 0;
    std::shared_ptr<Controller> controller;

    void SetUp() override {
        platform::DesktopControl::reset();
        platform::DesktopControl::setLocaleIdentifier("en_US");
    }
    void TearDown() override {
        controller.reset();
        platform::DesktopControl::reset();
    }

    std::shared_ptr<Controller> make(std::shared_ptr<PermissionSettingsController> permissions = nullptr) {
        Controller::Confirm confirm;
        if (!realConfirmation) {
            confirm = [this](platform::Window&, const std::string&, const std::string&, std::function<void(bool)> c) {
                confirmations.push_back(std::move(c));
            };
        }
        return Controller::create(
            [this](Controller::LoadCompletion c) { loads.push_back(std::move(c)); },
            [this](Controller::ClearCompletion c) { imageClears.push_back(std::move(c)); },
            [this](Controller::ClearCompletion c) { logClears.push_back(std::move(c)); },
            [this](Controller::ReportCompletion c) { reports.push_back(std::move(c)); }, [this] { return busy; },
            defaults, std::move(permissions),
            OverlayPreference::create(platform::UserDefaults::create(directory.file("overlay.plist"))), login,
            [this] { return updates; }, [this](bool on) { automaticChecks.push_back(on); },
            [this] { ++updateChecks; }, std::move(confirm), [](platform::Window&, auto completion) { completion({}); },
            [](const platform::Bytes&, const std::filesystem::path&) {});
    }

    // Opens a window and answers its first load with an empty snapshot.
    std::shared_ptr<Controller> shown() {
        auto c = make();
        c->showWindow();
        answerLoad(loads.size() - 1);
        return c;
    }

    void answerLoad(std::size_t index, SettingsSnapshot snapshot = {}) { loads.at(index)(std::move(snapshot)); }

    // Runs what the main queue holds now, answers from other threads included.
    static void drainMainQueue() {
        bool drained = false;
        platform::DispatchQueue::main()->async([&drained] { drained = true; });
        ASSERT_TRUE(runMainUntil([&drained] { return drained; }));
    }

    static int tick(int times = 1) {
        return platform::RunLoopControl::fireTimers(*platform::RunLoop::main(), times);
    }
};

} // namespace tarpelix::testing
