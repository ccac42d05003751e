#include "gallery/GalleryAudit.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Label.h"
#include "platform/appkit/ViewConstraint.h"
#include "platform/appkit/Window.h"
#include "platform/desktop/DesktopControl.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace tarpelix;
using namespace tarpelix::platform;

namespace {

std::string joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const auto& line : lines) all += "\n  " + line;
    return all;
}

TEST(GalleryAuditTest, EveryStateOfEverySceneFitsItsTextWithoutOverlapsOrLayoutIssues) {
    DesktopControl::reset();
    int windows = 0;
    for (const auto& scene : gallery::scenes()) {
        ASSERT_FALSE(scene.states.empty()) << scene.name;
        for (const auto& state : scene.states) {
            const auto audited = gallery::audit(scene, state);
            windows += audited.windows;
            EXPECT_TRUE(audited.findings.empty()) << gallery::fileName(scene, state) << joined(audited.findings);
        }
    }
    EXPECT_GT(windows, 0); // the window audit saw windows
    DesktopControl::reset();
}

// A scene with each fault the audit looks for, and one overlap it declares.
TEST(GalleryAuditTest, TheAuditFindsClippedTextOverlapsAndGrownWindowsButAllowsDeclaredOverlaps) {
    DesktopControl::reset();
    gallery::Scene faulty{"faulty", {"light"}, {300, 150}, [](GraphicsContext& g, const std::string&) {
        auto window = Window::create({0, 0, 300, 122}, WindowStyle::titled);
        auto& content = *window->contentView();
        auto clipped = Label::labelWithString("A sentence far too long for its narrow label");
        clipped->setFrame({10, 90, 80, 20});
        auto truncated = Label::labelWithString("A sentence truncated on purpose at its tail");
        truncated->setLineBreakMode(LineBreakMode::byTruncatingTail);
        truncated->setFrame({10, 60, 80, 20});
        auto first = Button::withTitle("First");
        first->setFrame({120, 10, 80, 24});
        auto second = Button::withTitle("Second");
        second->setFrame({160, 10, 80, 24});
        auto badge = Label::labelWithString("3");
        badge->setIdentifier("badge");
        badge->setFrame({190, 20, 20, 20});
        auto value = Label::labelWithString("1,000,000,000"); // clips on purpose
        value->setIdentifier("value");
        value->setFrame({250, 90, 30, 20});
        for (const auto& view : std::vector<std::shared_ptr<View>>{clipped, truncated, first, second, badge, value}) {
            content.addSubview(view);
        }
        // A label pinned wider than the window: the window grows.
        auto wide = Label::labelWithString("wide");
        wide->setTranslatesAutoresizingMaskIntoConstraints(false);
        content.addSubview(wide);
        ViewConstraint::activate({wide->widthAnchor().constraintEqualToConstant(400),
                                  wide->leadingAnchor().constraintEqualTo(content.leadingAnchor()),
                                  wide->trailingAnchor().constraintLessThanOrEqualTo(content.trailingAnchor()),
                                  wide->topAnchor().constraintEqualTo(content.topAnchor(), 64)});
        gallery::drawWindow(g, *window);
    }};
    faulty.allowedOverlaps = {"badge"};
    faulty.allowedClipping = {"value"};
    const auto findings = gallery::audit(faulty, "light").findings;
    const auto has = [&](const std::string& start) {
        return std::ranges::count_if(findings, [&](const auto& f) { return f.starts_with(start); });
    };
    EXPECT_EQ(has("text does not fit: A sentence far too long"), 1) << joined(findings);
    EXPECT_EQ(has("text does not fit: A sentence truncated"), 0) << joined(findings);
    EXPECT_EQ(has("text does not fit: 1,000,000,000"), 0) << joined(findings);
    EXPECT_EQ(has("overlapping siblings: First / Second"), 1) << joined(findings);
    EXPECT_EQ(has("overlapping siblings"), 1) << joined(findings); // the badge's are declared
    EXPECT_EQ(has("window grew"), 1) << joined(findings);
    DesktopControl::reset();
}

} // namespace
