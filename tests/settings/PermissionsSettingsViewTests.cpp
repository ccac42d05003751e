#include "settings/PermissionFakes.h"
#include "settings/PermissionsSettingsView.h"
#include "settings/SettingsPageHost.h"

#include "platform/appkit/AppKitControl.h"
#include "platform/appkit/ScreenReader.h"
#include "platform/desktop/DesktopControl.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace tarpelix;
using namespace tarpelix::platform;
using namespace tarpelix::testing;

namespace {

const std::string& ghostty = GhosttyCompatibility::bundleID;
const std::string iterm = "com.googlecode.iterm2";
const std::string terminalApp = "com.apple.Terminal";
const std::string itermPath = "/Applications/iTerm.app";

class PermissionsPageTest : public ::testing::Test {
public:
    void SetUp() override {
        DesktopControl::reset();
        model = PermissionSettingsController::create(fake.dependencies(), [] { return 1000.0; });
        page = PermissionsSettingsView::create(model);
    }
    void TearDown() override { DesktopControl::reset(); }

    // Answers the newest Automation probe of a terminal.
    void answer(const std::string& id, AutomationStatus status) {
        auto probe =
            std::find_if(fake.probes.rbegin(), fake.probes.rend(), [&](const auto& p) { return p.id == id; });
        ASSERT_NE(probe, fake.probes.rend()) << id;
        probe->answer(status);
    }
    // A running terminal whose probe answered `status`.
    void settle(const std::string& id, AutomationStatus status) {
        fake.running[id] = true;
        fake.installations[id] = installation::Available{"/Applications/" + id + ".app"};
        model->refresh();
        answer(id, status);
    }
    PermissionActionRow& row(const std::string& key) {
        if (key == "accessibility") return page->accessibility();
        if (key == "clipboard") return page->clipboard();
        if (key == "inputMonitoring") return page->inputMonitoring();
        return *page->terminal(key);
    }

    FakePermissionSystem fake;
    std::shared_ptr<PermissionSettingsController> model;
    std::shared_ptr<PermissionsSettingsView> page;
};

struct Shown {
    std::string status;
    InterfaceIcon icon;
    Color tint;
    std::string button;
    bool enabled;
    bool buttonHidden;
    std::optional<std::string> message; // none: the line is hidden
};

void expectShown(PermissionActionRow& row, const Shown& shown) {
    EXPECT_EQ(row.status().stringValue(), shown.status);
    ASSERT_TRUE(row.statusIcon().image());
    EXPECT_EQ(row.statusIcon().image()->symbolName(), rawValue(shown.icon));
    EXPECT_EQ(row.statusIcon().contentTintColor(), shown.tint);
    EXPECT_EQ(row.button().title(), shown.button);
    EXPECT_EQ(row.button().isEnabled(), shown.enabled);
    EXPECT_EQ(row.button().isHidden(), shown.buttonHidden);
    EXPECT_EQ(row.message().isHidden(), !shown.message);
    if (shown.message) {
        EXPECT_EQ(row.message().stringValue(), *shown.message);
    }
}

} // namespace

TEST_F(PermissionsPageTest, UpdateShowsEachSnapshotOnItsRow) {
    using A = AutomationStatus;
    const Color green = Color::systemGreen(), grey = Color::secondaryLabelColor(),
                orange = Color::systemOrange();
    const auto good = InterfaceIcon::success, info = InterfaceIcon::information,
               warn = InterfaceIcon::attention;
    struct Case {
        const char* name;
        std::function<void(PermissionsPageTest&)> arrange;
        std::string row;
        Shown shown;
    };
    const Case cases[] = {
        {"not installed",
         [](auto& t) { t.model->refresh(); },
         iterm,
         {"Not installed", info, grey, "Request Access\u2026", false, true, {}}},
        {"multiple instances",
         [](auto& t) {
             t.fake.running[iterm] = true;
             t.fake.installations[iterm] = installation::Ambiguous{};
             t.model->refresh();
             t.answer(iterm, A::allowed);
         },
         iterm,
         {"Multiple instances open", warn, orange, "Open Settings\u2026", false, false, {}}},
        {"not running, no application URL",
         [](auto& t) {
             t.fake.installations[iterm] = installation::Unknown{};
             t.model->refresh();
         },
         iterm,
         {"Not running", info, grey, "Request Access\u2026", false, false, {}}},
        {"not running, with an application URL",
         [](auto& t) {
             t.fake.installations[iterm] = installation::Available{itermPath};
             t.model->refresh();
         },
         iterm,
         {"Not running", info, grey, "Open iTerm2", true, false, {}}},
        {"allowed",
         [](auto& t) { t.settle(terminalApp, A::allowed); },
         terminalApp,
         {"Allowed", good, green, "Open Settings\u2026", true, false, {}}},
        {"denied",
         [](auto& t) { t.settle(terminalApp, A::denied); },
         terminalApp,
         {"Not allowed", warn, orange, "Open Settings\u2026", true, false, {}}},
        {"unavailable",
         [](auto& t) { t.settle(terminalApp, A::unavailable); },
         terminalApp,
         {"Unavailable", warn, orange, "Open Settings\u2026", true, false, {}}},
        {"probe in flight",
         [](auto& t) {
             t.fake.running[terminalApp] = true;
             t.fake.installations[terminalApp] = installation::Available{"/Applications/Terminal.app"};
             t.model->refresh();
         },
         terminalApp,
         {"Checking\u2026", info, grey, "Checking\u2026", false, false, {}}},
        {"Ghostty needs an update while its Automation is checked",
         [](auto& t) {
             t.fake.running[ghostty] = true;
             t.fake.installations[ghostty] = installation::Available{"/Applications/Ghostty.app"};
             t.model->refresh();
             ASSERT_EQ(t.fake.checks.size(), 1u);
             t.fake.checks.front().answer(GhosttyCompatibility::Status::updateRequired);
         },
         ghostty,
         {"Checking\u2026", info, grey, "Get Prerelease\u2026", true, false,
          "Requires a newer Ghostty prerelease."}},
        {"a failed launch leaves its message",
         [](auto& t) {
             t.fake.installations[iterm] = installation::Available{itermPath};
             t.model->refresh();
             t.model->openTerminal(iterm);
             t.fake.opens.back().answer(false);
         },
         iterm,
         {"Not running", info, grey, "Open iTerm2", true, false,
          "Couldn\u2019t open this terminal. Try again."}},
        {"Accessibility allowed",
         [](auto& t) {
             t.fake.accessibility = true;
             t.model->refresh();
         },
         "accessibility",
         {"Allowed", good, green, "Open Settings\u2026", true, false, {}}},
        {"Input Monitoring to set up",
         [](auto& t) { t.model->refresh(); },
         "inputMonitoring",
         {"Not enabled \u00b7 Optional", info, grey, "Set Up\u2026", true, false, {}}},
        {"Input Monitoring with Accessibility allowed",
         [](auto& t) {
             t.fake.accessibility = true;
             t.model->refresh();
         },
         "inputMonitoring",
         {"Not enabled \u00b7 Optional", info, grey, "Open Settings\u2026", true, false, {}}},
        {"clipboard request in flight",
         [](auto& t) {
             t.model->refresh();
             t.model->performClipboardAction();
         },
         "clipboard",
         {"Not requested", info, grey, "Checking\u2026", false, false, {}}},
        {"clipboard message that repeats the guidance",
         [](auto& t) {
             t.model->refresh();
             t.model->performClipboardAction();
             t.fake.clipboard = ClipboardStatus::ask;
             t.model->refresh();
             t.fake.clipboardRequests.front()(ClipboardPermissionSetup::Result::needsSettings);
             ASSERT_EQ(t.model->snapshot().message.at("clipboard"),
                       "Choose Always Allow in System Settings.");
         },
         "clipboard",
         {"Ask on access", warn, orange, "Open Settings\u2026", true, false, {}}},
        {"clipboard message that differs from the guidance",
         [](auto& t) {
             t.model->refresh();
             t.model->performClipboardAction();
             t.fake.clipboardRequests.front()(ClipboardPermissionSetup::Result::empty);
         },
         "clipboard",
         {"Not requested", info, grey, "Request Access\u2026", true, false,
          "Copy an image, then request access again."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake = FakePermissionSystem{};
        SetUp();
        c.arrange(*this);
        page->update();
        expectShown(row(c.row), c.shown);
    }

    // The Clipboard row's detail is the guidance of the moment.
    fake = FakePermissionSystem{};
    SetUp();
    model->refresh();
    page->update();
    EXPECT_EQ(page->clipboard().detail().stringValue(), "Copy an image, then request access.");
    fake.clipboard = ClipboardStatus::alwaysAllow;
    model->refresh();
    page->update();
    EXPECT_EQ(page->clipboard().detail().stringValue(), "Read images you paste.");
}

TEST_F(PermissionsPageTest, EachRowActionReachesTheModel) {
    // Accessibility: the first press prompts, the next opens its pane.
    model->refresh();
    page->update();
    page->accessibility().button().performClick();
    EXPECT_EQ(fake.accessibilityRequests, 1);
    page->accessibility().button().performClick();
    EXPECT_EQ(fake.panes, std::vector<std::string>{"Privacy_Accessibility"});

    // Clipboard: not requested yet, so the request starts.
    page->clipboard().button().performClick();
    EXPECT_EQ(fake.clipboardRequests.size(), 1u);

    // Input Monitoring: requested while nothing is allowed, its pane once Accessibility is.
    fake.panes.clear();
    fake.inputMonitoringGrant = true;
    page->inputMonitoring().button().performClick();
    EXPECT_EQ(fake.inputMonitoringRequests, 1);
    EXPECT_TRUE(fake.panes.empty());
    fake.accessibility = true;
    model->refresh();
    page->update();
    page->inputMonitoring().button().performClick();
    EXPECT_EQ(fake.inputMonitoringRequests, 1);
    EXPECT_EQ(fake.panes, std::vector<std::string>{"Privacy_ListenEvent"});

    // Terminals: the prerelease page, a launch, the Automation pane, an Automation request.
    fake.running[ghostty] = true;
    fake.installations[ghostty] = installation::Available{"/Applications/Ghostty.app"};
    fake.installations[iterm] = installation::Available{itermPath};
    fake.running[terminalApp] = true;
    fake.installations[terminalApp] = installation::Available{"/System/Applications/Utilities/Terminal.app"};
    model->refresh();
    fake.checks.back().answer(GhosttyCompatibility::Status::updateRequired);
    answer(terminalApp, AutomationStatus::denied);
    page->update();

    page->terminal(ghostty)->button().performClick();
    EXPECT_EQ(fake.urls, std::vector<std::string>{GhosttyCompatibility::prereleaseURL()});
    page->terminal(iterm)->button().performClick();
    ASSERT_EQ(fake.opens.size(), 1u);
    EXPECT_EQ(fake.opens.front().url, itermPath);
    fake.panes.clear();
    page->terminal(terminalApp)->button().performClick();
    EXPECT_EQ(fake.panes, std::vector<std::string>{"Privacy_Automation"});

    fake.running[iterm] = true;
    fake.opens.front().answer(true); // the launch ends with a refresh that probes iTerm2
    answer(iterm, AutomationStatus::notDetermined);
    page->update();
    const std::size_t probes = fake.probes.size();
    page->terminal(iterm)->button().performClick();
    ASSERT_EQ(fake.probes.size(), probes + 1);
    EXPECT_EQ(fake.probes.back().id, iterm);
    EXPECT_TRUE(fake.probes.back().ask);
}

TEST_F(PermissionsPageTest, ABusyRowIgnoresClicks) {
    model->refresh();
    page->clipboard().button().performClick();
    page->update();
    ASSERT_EQ(page->clipboard().button().title(), "Checking\u2026");
    fake.clipboard = ClipboardStatus::ask; // the model would now open the pane
    page->clipboard().button().performClick();
    page->clipboard().activate();
    EXPECT_EQ(fake.clipboardRequests.size(), 1u);
    EXPECT_TRUE(fake.panes.empty());

    // A probe in flight makes the row busy, though the model would start a request.
    fake.running[terminalApp] = true;
    fake.installations[terminalApp] = installation::Available{"/Applications/Terminal.app"};
    model->refresh();
    page->update();
    const std::size_t probes = fake.probes.size();
    page->terminal(terminalApp)->activate();
    EXPECT_EQ(fake.probes.size(), probes);
}

TEST_F(PermissionsPageTest, TheDisclosureShowsAndHidesTroubleshooting) {
    auto window = hostPage(page->cards());
    auto& button = page->troubleshootingButton();
    auto chevron = [&] { return button.image()->symbolName(); };
    EXPECT_TRUE(page->troubleshootingContent().isHidden());
    EXPECT_EQ(chevron(), rawValue(InterfaceIcon::disclosureCollapsed));
    EXPECT_EQ(button.isAccessibilityExpanded(), false);

    AppKitControl::click(button);
    EXPECT_FALSE(page->troubleshootingContent().isHidden());
    EXPECT_EQ(chevron(), rawValue(InterfaceIcon::disclosureExpanded));
    EXPECT_EQ(button.isAccessibilityExpanded(), true);
    const auto lines = ScreenReader::read(*window);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Input Monitoring"), lines.end());

    AppKitControl::click(button);
    EXPECT_TRUE(page->troubleshootingContent().isHidden());
    EXPECT_EQ(chevron(), rawValue(InterfaceIcon::disclosureCollapsed));
    EXPECT_EQ(button.isAccessibilityExpanded(), false);
}

TEST_F(PermissionsPageTest, TheScreenReaderNamesEachButtonAfterItsRow) {
    model->refresh();
    page->update();
    auto window = hostPage(page->cards());
    EXPECT_TRUE(window->layoutIssues().empty());
    const auto lines = ScreenReader::read(*window);
    for (const char* spoken :
         {"Request Access\u2026 for Accessibility, button", "Request Access\u2026 for Clipboard, button",
          "Keyboard troubleshooting, collapsed"}) {
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.rfind(spoken, 0) == 0;
        })) << spoken;
    }
    EXPECT_TRUE(std::none_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.find("Input Monitoring") != std::string::npos;
    })) << "the collapsed section is not read";

    // A row made without a title takes one later, for its button's spoken label too.
    auto row = PermissionActionRow::create(std::nullopt, std::nullopt, std::nullopt);
    EXPECT_TRUE(row->titleLabel().isHidden());
    row->apply("Not allowed", false, "Request Access\u2026", false, true, std::nullopt, false, true);
    EXPECT_EQ(row->button().accessibilityLabel(), "Request Access\u2026");
    row->setTitle("Ghostty");
    EXPECT_FALSE(row->titleLabel().isHidden());
    EXPECT_EQ(row->button().accessibilityLabel(), "Request Access\u2026 for Ghostty");
    row->apply("Checking\u2026", false, "Request Access\u2026", true, true, std::nullopt, true, true);
    EXPECT_EQ(row->button().accessibilityLabel(), "Checking\u2026 for Ghostty");
}
