#include "platform/appkit/AppKitControl.h"
#include "platform/appkit/ScreenReader.h"
#include "platform/appkit/View.h"
#include "platform/appkit/Window.h"
#include "platform/desktop/DesktopControl.h"

#include <gtest/gtest.h>

using namespace tarpelix::platform;

namespace {

class FlippedView : public View {
public:
    using View::View;
    bool isFlipped() const override { return true; }
};

struct ViewTest : ::testing::Test {
    void SetUp() override { DesktopControl::reset(); }
    void TearDown() override { DesktopControl::reset(); }
};

TEST_F(ViewTest, PointsConvertBetweenFlippedAndUnflippedViewsBothWays) {
    auto root = View::create({0, 0, 200, 200});
    auto flipped = std::make_shared<FlippedView>(Rect{10, 20, 100, 50});
    auto inner = View::create({5, 5, 20, 10}); // an unflipped view 5 points below the flipped view's top
    root->addSubview(flipped);
    flipped->addSubview(inner);

    struct Case {
        const View* view;
        Point point;
        Point inRoot;
    };
    const Case cases[] = {
        {flipped.get(), {0, 0}, {10, 70}},  // a flipped view's origin is its top-left corner
        {flipped.get(), {0, 50}, {10, 20}},
        {inner.get(), {0, 0}, {15, 55}},    // inner's bottom is 15 points below the flipped top
        {inner.get(), {20, 10}, {35, 65}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.view->convertPointTo(c.point, root.get()), c.inRoot);
        EXPECT_EQ(root->convertPointTo(c.inRoot, c.view), c.point);
        EXPECT_EQ(c.view->convertPoint(c.inRoot, root.get()), c.point);
    }
    EXPECT_EQ(inner->convertRectTo(inner->bounds(), root.get()), (Rect{15, 55, 20, 10}));
    EXPECT_EQ(inner->convertPointTo({0, 0}, flipped.get()), (Point{5, 15}));

    flipped->setBoundsOrigin({0, 10}); // scrolled down by 10: content moves up
    EXPECT_EQ(flipped->convertPointTo({0, 10}, root.get()), (Point{10, 70}));
}

TEST_F(ViewTest, HitTestingFindsTheFrontmostVisibleViewAndSkipsHiddenOnes) {
    auto root = View::create({0, 0, 300, 300});
    auto back = View::create({0, 0, 100, 100});
    auto front = View::create({50, 50, 100, 100});
    auto child = View::create({10, 10, 20, 20});
    root->addSubview(back);
    root->addSubview(front);
    front->addSubview(child);

    EXPECT_EQ(root->hitTest({55, 55}), front.get());
    EXPECT_EQ(root->hitTest({65, 65}), child.get());
    front->setHidden(true);
    EXPECT_TRUE(child->isHiddenOrHasHiddenAncestor());
    EXPECT_EQ(root->hitTest({65, 65}), back.get());
    EXPECT_EQ(root->hitTest({140, 140}), root.get());
    EXPECT_EQ(root->hitTest({400, 10}), nullptr);

    front->setHidden(false);
    back->addSubview(front, WindowOrderingMode::below, nullptr); // moved, now behind back's content
    EXPECT_EQ(root->subviews().size(), 1u);
    EXPECT_EQ(front->superview(), back.get());
    EXPECT_EQ(root->hitTest({65, 65}), child.get());
}

TEST_F(ViewTest, AnExplicitKeyViewLoopSkipsHiddenViewsAndACycleOfHiddenViewsEnds) {
    struct Focusable : View {
        using View::View;
        bool acceptsFirstResponder() const override { return true; }
    };
    auto window = Window::create({0, 0, 200, 100}, WindowStyle::titled);
    auto a = std::make_shared<Focusable>(Rect{0, 0, 10, 10});
    auto b = std::make_shared<Focusable>(Rect{20, 0, 10, 10});
    auto c = std::make_shared<Focusable>(Rect{40, 0, 10, 10});
    for (const auto& v : {a, b, c}) window->contentView()->addSubview(v);
    a->setNextKeyView(b.get());
    b->setNextKeyView(c.get());
    c->setNextKeyView(a.get());
    b->setHidden(true);
    EXPECT_EQ(a->nextValidKeyView(), c.get());
    EXPECT_EQ(a->previousValidKeyView(), c.get());

    c->setHidden(true);
    EXPECT_EQ(a->nextValidKeyView(), nullptr);
    ASSERT_TRUE(window->makeFirstResponder(a.get()));
    window->selectNextKeyView();
    EXPECT_EQ(window->firstResponder(), a.get());

    // Hiding the first responder gives focus back to the window.
    a->setHidden(true);
    EXPECT_EQ(window->firstResponder(), window.get());
}

TEST_F(ViewTest, TheScreenReaderReadsTheTitleThenVisibleElementsTopDownLeadingToTrailing) {
    auto window = Window::create({0, 0, 300, 200}, WindowStyle::titled | WindowStyle::closable);
    window->setTitle("Settings");
    const auto element = [&](Rect frame, AccessibilityRole role, std::string label) {
        auto view = View::create(frame);
        view->setAccessibilityElement(true);
        view->setAccessibilityRole(role);
        view->setAccessibilityLabel(std::move(label));
        window->contentView()->addSubview(view);
        return view;
    };
    auto cancel = element({120, 20, 80, 24}, AccessibilityRole::button, "Cancel");
    auto save = element({210, 18, 80, 28}, AccessibilityRole::button, "Save");
    save->setToolTip("Saves the report");
    auto heading = element({20, 160, 200, 20}, AccessibilityRole::heading, "General");
    auto hidden = element({20, 130, 200, 20}, AccessibilityRole::staticText, "Not shown");
    hidden->setHidden(true);
    auto toggle = element({20, 100, 200, 20}, AccessibilityRole::checkBox, "Open at login");
    toggle->setAccessibilityValue("off");
    auto details = element({20, 70, 200, 20}, AccessibilityRole::disclosureTriangle, "Details");
    details->setAccessibilityExpanded(false);
    auto plain = View::create({0, 0, 10, 10}); // not an element
    window->contentView()->addSubview(plain);

    EXPECT_EQ(ScreenReader::read(*window), (std::vector<std::string>{
                                               "Settings",
                                               "General, heading",
                                               "Open at login, off, checkbox",
                                               "Details, collapsed, disclosure triangle",
                                               "Cancel, button",
                                               "Save, button, Saves the report",
                                           }));

    details->postAccessibilityNotification("AXExpandedChanged");
    EXPECT_EQ(AppKitControl::accessibilityNotifications(),
              (std::vector<AppKitControl::AccessibilityNotificationRecord>{{"Details", "AXExpandedChanged"}}));
}

} // namespace
