#include "gallery/GalleryAudit.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Label.h"
#include "platform/appkit/ViewConstraint.h"
#include "platform/appkit/Window.h"
#include "platform/desktop/DesktopControl.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <numeric>

using namespace tarpelix;
using namespace tarpelix::platform;

namespace {

std::string joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const auto& line : lines) all += "\n  " + line;
    return all;
}

// One test per scene of the gallery, named after it, so that each stays short under the
// sanitizers: there, some scenes take seconds a state to lay out and audit.
class GallerySceneAuditTest : public ::testing::TestWithParam<std::size_t> {
protected:
    static const gallery::Scene& scene() { return gallery::scenes().at(GetParam()); }
};

std::vector<std::size_t> everyScene() {
    std::vector<std::size_t> indices(gallery::scenes().size());
    std::iota(indices.begin(), indices.end(), std::size_t{0});
    return indices;
}

std::string sceneName(const ::testing::TestParamInfo<std::size_t>& info) {
    auto name = gallery::scenes().at(info.param).name;
    std::ranges::replace(name, '-', '_');
    return name;
}

TEST_P(GallerySceneAuditTest, EveryStateFitsItsTextWithoutOverlapsOrLayoutIssues) {
    DesktopControl::reset();
    ASSERT_FALSE(scene().states.empty()) << scene().name;
    for (const auto& state : scene().states) {
        const auto audited = gallery::audit(scene(), state);
        EXPECT_TRUE(audited.findings.empty())
            << gallery::fileName(scene(), state) << joined(audited.findings);
    }
    DesktopControl::reset();
}

INSTANTIATE_TEST_SUITE_P(EveryScene, GallerySceneAuditTest, ::testing::ValuesIn(everyScene()), sceneName);

// The window audit sees the windows the scenes draw: some state of some scene draws one.
TEST(GalleryAuditTest, TheWindowAuditSeesTheWindowsOfTheScenes) {
    DesktopControl::reset();
    const auto sawWindows = [] {
        for (const auto& scene : gallery::scenes())
            for (const auto& state : scene.states)
                if (gallery::audit(scene, state).windows > 0) return true;
        return false;
    };
    EXPECT_TRUE(sawWindows());
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
