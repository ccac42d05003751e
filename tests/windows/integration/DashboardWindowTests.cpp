// The dashboard in a window on the simulated desktop: its link rows opened by clicks and
// reached by Tab, with the workspace opening or refusing the links.

#include "windows/DashboardView.h"

#include "platform/appkit/AppKitControl.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Events.h"
#include "platform/appkit/ImageView.h"
#include "platform/appkit/ScreenReader.h"
#include "platform/appkit/ViewConstraint.h"
#include "platform/appkit/Window.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/desktop/WorkspaceControl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <string>

namespace tarpelix {
namespace {

using namespace platform;

// The query's items decoded as an HTML form decodes them: "+" is a blank, "%XX" a byte.
std::map<std::string, std::string> formDecoded(const std::string& query) {
    const std::string blanks = std::regex_replace(query, std::regex("\\+"), "%20");
    std::map<std::string, std::string> fields;
    for (const auto& item : URL::parse("https://form.test/?" + blanks)->queryItems()) {
        fields[item.name] = item.value.value_or("");
    }
    return fields;
}

struct DashboardWindowTest : ::testing::Test {
    std::shared_ptr<Window> window;
    std::shared_ptr<DashboardView> dashboard;

    void SetUp() override {
        DesktopControl::reset();
        window = Window::create({100, 100, 559, 640}, WindowStyle::titled);
        dashboard = DashboardView::create();
        dashboard->setTranslatesAutoresizingMaskIntoConstraints(false);
        View& content = *window->contentView();
        content.addSubview(dashboard);
        ViewConstraint::activate({
            dashboard->topAnchor().constraintEqualTo(content.topAnchor(), 24),
            dashboard->leadingAnchor().constraintEqualTo(content.leadingAnchor(), 24),
            dashboard->trailingAnchor().constraintEqualTo(content.trailingAnchor(), -24),
        });
        window->makeKeyAndOrderFront();
        Application::shared().activate();
        window->layoutIfNeeded();
    }
    void TearDown() override {
        window->orderOut();
        DesktopControl::reset();
    }
};

TEST_F(DashboardWindowTest, ARefusedLinkShowsTheFailureUntilALaterOneOpens) {
    WorkspaceControl::refuseOpeningURLs(true);
    AppKitControl::click(dashboard->shareButton());
    EXPECT_EQ(dashboard->actionStatus().stringValue(), "Couldn\u2019t open your browser. Try again.");
    EXPECT_FALSE(dashboard->actionStatus().isHidden());
    EXPECT_TRUE(WorkspaceControl::openedURLs().empty());

    WorkspaceControl::refuseOpeningURLs(false);
    AppKitControl::click(dashboard->supportButton());
    EXPECT_EQ(dashboard->actionStatus().stringValue(), "");
    EXPECT_TRUE(dashboard->actionStatus().isHidden());
    EXPECT_EQ(WorkspaceControl::openedURLs(), std::vector<std::string>{DashboardView::supportURL().absoluteString()});
}

TEST_F(DashboardWindowTest, TheRowsAreFullWidthTabStopsAndAnswerClicksOnTheirIcons) {
    const Rect share = dashboard->shareButton().frame();
    EXPECT_EQ(share.height(), LinkRowButton::rowHeight);
    EXPECT_EQ(share.width(), dashboard->frame().width());

    // Each row is heard once, as a button with its title; its icons and label are not.
    const auto spoken = ScreenReader::read(*window);
    EXPECT_EQ(std::ranges::count(spoken, "Share a testimonial on X, button, Opens an editable draft in your browser."),
              1);
    EXPECT_EQ(std::ranges::count(spoken, "Feedback & issues, button"), 1);

    ASSERT_TRUE(window->makeFirstResponder(&dashboard->shareButton()));
    AppKitControl::typeKey(KeyCode::tab, "\t");
    EXPECT_EQ(window->firstResponder(), &dashboard->supportButton());

    // The leading icon sits inside the share row's content stack.
    const View* icon = nullptr;
    for (View* view : dashboard->shareButton().visibleViews([](const View& v) { return dynamic_cast<const ImageView*>(&v); })) {
        if (!icon) icon = view;
    }
    ASSERT_NE(icon, nullptr);
    DashboardLinkButton& row = dashboard->shareButton();
    EXPECT_EQ(row.hitTest(icon->convertPointTo(icon->bounds().center(), row.superview())), &row);
    AppKitControl::click(*icon);
    EXPECT_EQ(WorkspaceControl::openedURLs(), std::vector<std::string>{DashboardView::testimonialURL().absoluteString()});
}

TEST_F(DashboardWindowTest, TheTestimonialDraftDecodesToItsTextExactly) {
    const URL url = DashboardView::testimonialURL();
    EXPECT_EQ(url.path(), "/intent/tweet");
    ASSERT_TRUE(url.query());
    const auto fields = formDecoded(*url.query());
    EXPECT_EQ(fields.size(), 2u);
    EXPECT_EQ(fields.at("text"), "Tarpelix keeps me in flow. Copy an image, press Control+V, and it\u2019s in my remote "
                                 "terminal. Such a small shortcut, such a big difference.");
    EXPECT_TRUE(URL::parse(fields.at("url")));

    EXPECT_TRUE(DashboardView::supportURL().hasDirectoryPath());
    EXPECT_EQ(DashboardView::supportURL().path(), "/support");
}

} // namespace
} // namespace tarpelix
