#include "gallery/GalleryScenes.h"
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

std::string describe(const View& view) {
    if (!view.identifier().empty()) return view.identifier();
    const std::string label = view.accessibilityLabel();
    return label.empty() ? typeid(view).name() : label;
}

bool shows(const View& view) { return !view.isHidden() && view.alphaValue() > 0 && !view.frame().isEmpty(); }

// Visible siblings that overlap by more than a hairline, unless one of them is allowed to.
void findOverlaps(const View& view, const std::vector<std::string>& allowed, std::vector<std::string>& findings) {
    const auto isAllowed = [&](const View& v) { return std::ranges::find(allowed, v.identifier()) != allowed.end(); };
    std::vector<const View*> visible;
    for (const auto& subview : view.subviews()) {
        if (shows(*subview)) visible.push_back(subview.get());
    }
    for (std::size_t i = 0; i < visible.size(); ++i) {
        for (std::size_t j = i + 1; j < visible.size(); ++j) {
            const Rect overlap = visible[i]->frame().intersection(visible[j]->frame());
            if (overlap.width() > 0.5 && overlap.height() > 0.5 && !isAllowed(*visible[i]) && !isAllowed(*visible[j])) {
                findings.push_back("overlapping siblings: " + describe(*visible[i]) + " / " + describe(*visible[j]));
            }
        }
    }
    for (const View* subview : visible) findOverlaps(*subview, allowed, findings);
}

const char* kindName(WindowLayoutIssue::Kind kind) {
    switch (kind) {
    case WindowLayoutIssue::Kind::ambiguousFrame: return "ambiguous frame";
    case WindowLayoutIssue::Kind::brokenConstraint: return "broken constraint";
    case WindowLayoutIssue::Kind::unsettledWrapping: return "unsettled wrapping";
    case WindowLayoutIssue::Kind::windowGrew: return "window grew";
    }
    return "?";
}

void auditWindow(const Window& window, const gallery::Scene& scene, std::vector<std::string>& findings) {
    for (const auto& issue : window.layoutIssues()) {
        findings.push_back(std::string(kindName(issue.kind)) + ": " + issue.description);
    }
    findOverlaps(window.frameView(), scene.allowedOverlaps, findings);
    if (const Window* sheet = window.attachedSheet()) auditWindow(*sheet, scene, findings);
}

// What the audit finds in one state of a scene: the recording's texts that do not fit their
// boxes (truncation a label asks for fits) or lack glyphs, and in every window the scene drew,
// layout issues and overlapping views.
std::vector<std::string> audit(const gallery::Scene& scene, const std::string& state, int* windows = nullptr) {
    std::vector<std::string> findings;
    int drawn = 0;
    const auto recording = gallery::record(scene, state, [&](const Window& window) {
        ++drawn;
        auditWindow(window, scene, findings);
    });
    for (const auto& issue : auditLayout(recording)) {
        findings.push_back((issue.kind == LayoutIssue::Kind::textDoesNotFit ? "text does not fit: " : "missing glyphs: ") +
                           issue.text);
    }
    if (windows) *windows = drawn;
    return findings;
}

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
            int drawn = 0;
            const auto findings = audit(scene, state, &drawn);
            windows += drawn;
            EXPECT_TRUE(findings.empty()) << gallery::fileName(scene, state) << joined(findings);
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
        for (const auto& view : std::vector<std::shared_ptr<View>>{clipped, truncated, first, second, badge}) {
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
    const auto findings = audit(faulty, "light");
    const auto has = [&](const std::string& start) {
        return std::ranges::count_if(findings, [&](const auto& f) { return f.starts_with(start); });
    };
    EXPECT_EQ(has("text does not fit: A sentence far too long"), 1) << joined(findings);
    EXPECT_EQ(has("text does not fit: A sentence truncated"), 0) << joined(findings);
    EXPECT_EQ(has("overlapping siblings: First / Second"), 1) << joined(findings);
    EXPECT_EQ(has("overlapping siblings"), 1) << joined(findings); // the badge's are declared
    EXPECT_EQ(has("window grew"), 1) << joined(findings);
    DesktopControl::reset();
}

} // namespace
