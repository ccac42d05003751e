#include "platform/appkit/StackView.h"
#include "platform/appkit/View.h"
#include "platform/appkit/ViewConstraint.h"
#include "platform/appkit/Window.h"
#include "platform/desktop/DesktopControl.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace tarpelix::platform;

namespace {

// A view with a fixed intrinsic size, as a label or an image view reports.
class Fixed : public View {
public:
    explicit Fixed(Size size) : size_(size) { setTranslatesAutoresizingMaskIntoConstraints(false); }
    Size intrinsicContentSize() const override { return size_; }
    void setIntrinsicSize(Size size) {
        size_ = size;
        invalidateIntrinsicContentSize();
    }

private:
    Size size_;
};

// A sentence 447 points long on one line, wrapped into 17-point lines at any width.
class Wrapping : public View {
public:
    Wrapping() { setTranslatesAutoresizingMaskIntoConstraints(false); }
    Size intrinsicContentSize() const override { return {447, noIntrinsicMetric}; }
    double heightForWidth(double width) const override { return std::ceil(447 / std::max(width, 1.0)) * 17; }
};

std::shared_ptr<Fixed> fixed(double width, double height, std::string identifier = {}) {
    auto view = std::make_shared<Fixed>(Size{width, height});
    view->setIdentifier(std::move(identifier));
    return view;
}

std::shared_ptr<View> container(std::string identifier) {
    auto view = View::create();
    view->setTranslatesAutoresizingMaskIntoConstraints(false);
    view->setIdentifier(std::move(identifier));
    return view;
}

std::vector<WindowLayoutIssue::Kind> kinds(const Window& window) {
    std::vector<WindowLayoutIssue::Kind> result;
    for (const auto& issue : window.layoutIssues()) result.push_back(issue.kind);
    return result;
}

struct LayoutTest : ::testing::Test {
    void SetUp() override { DesktopControl::reset(); }
    void TearDown() override { DesktopControl::reset(); }

    // A borderless window whose content view holds `root` at its top-left corner.
    std::shared_ptr<Window> windowWith(const std::shared_ptr<View>& root, Size contentSize) {
        auto window = Window::create({{0, 0}, contentSize}, WindowStyle::borderless);
        auto& content = *window->contentView();
        content.addSubview(root);
        ViewConstraint::activate({root->leadingAnchor().constraintEqualTo(content.leadingAnchor()),
                                  root->topAnchor().constraintEqualTo(content.topAnchor())});
        return window;
    }
};

TEST_F(LayoutTest, OverlayRowPlacesIndicatorAndLabelAndCompressesLongerText) {
    struct Case {
        double labelWidth;
        Rect labelFrame;
    };
    const Case cases[] = {
        {208, {42, 12, 208, 16}}, // exactly fills the row: 42 to 250
        {300, {42, 12, 208, 16}}, // compressed; the panel stays 264
        {100, {42, 12, 100, 16}}, // hugs its text
    };
    for (const Case& c : cases) {
        auto panel = container("panel");
        auto indicator = fixed(18, 18, "indicator");
        auto label = fixed(c.labelWidth, 16, "label");
        panel->addSubview(indicator);
        panel->addSubview(label);
        ViewConstraint::activate({
            panel->widthAnchor().constraintEqualToConstant(264),
            panel->heightAnchor().constraintEqualToConstant(40),
            indicator->widthAnchor().constraintEqualToConstant(18),
            indicator->heightAnchor().constraintEqualToConstant(18),
            indicator->leadingAnchor().constraintEqualTo(panel->leadingAnchor(), 14),
            indicator->centerYAnchor().constraintEqualTo(panel->centerYAnchor()),
            label->leadingAnchor().constraintEqualTo(indicator->trailingAnchor(), 10),
            label->trailingAnchor().constraintLessThanOrEqualTo(panel->trailingAnchor(), -14),
            label->centerYAnchor().constraintEqualTo(panel->centerYAnchor()),
        });
        auto window = windowWith(panel, {264, 100});
        window->layoutIfNeeded();

        SCOPED_TRACE(c.labelWidth);
        EXPECT_EQ(panel->frame(), (Rect{0, 60, 264, 40})); // top of an unflipped content view
        EXPECT_EQ(indicator->frame(), (Rect{14, 11, 18, 18}));
        EXPECT_EQ(label->frame(), c.labelFrame);
        EXPECT_EQ(window->frame().size, (Size{264, 100}));
        EXPECT_TRUE(window->layoutIssues().empty());
    }
}

TEST_F(LayoutTest, HuggingAndCompressionResistanceDecideWhichViewGivesWay) {
    struct Case {
        double rowWidth;
        double priorityOfFirst; // hugging or compression resistance, whichever the case exercises
        bool compress;
        double firstWidth, secondWidth;
    };
    const Case cases[] = {
        {300, 251, false, 100, 192}, // the first hugs harder: the second stretches
        {300, 249, false, 192, 100},
        {150, 751, true, 100, 42},   // the first resists harder: the second is compressed
        {150, 749, true, 42, 100},
    };
    for (const Case& c : cases) {
        auto row = container("row");
        auto first = fixed(100, 20, "first");
        auto second = fixed(100, 20, "second");
        if (c.compress) {
            first->setContentCompressionResistancePriority(c.priorityOfFirst, LayoutAxis::horizontal);
        } else {
            first->setContentHuggingPriority(c.priorityOfFirst, LayoutAxis::horizontal);
        }
        row->addSubview(first);
        row->addSubview(second);
        ViewConstraint::activate({
            row->widthAnchor().constraintEqualToConstant(c.rowWidth),
            row->heightAnchor().constraintEqualToConstant(20),
            first->leadingAnchor().constraintEqualTo(row->leadingAnchor()),
            second->leadingAnchor().constraintEqualTo(first->trailingAnchor(), 8),
            second->trailingAnchor().constraintEqualTo(row->trailingAnchor()),
            first->topAnchor().constraintEqualTo(row->topAnchor()),
            second->topAnchor().constraintEqualTo(row->topAnchor()),
        });
        auto window = windowWith(row, {400, 100});
        window->layoutIfNeeded();

        SCOPED_TRACE(c.priorityOfFirst);
        EXPECT_DOUBLE_EQ(first->frame().width(), c.firstWidth);
        EXPECT_DOUBLE_EQ(second->frame().width(), c.secondWidth);
        EXPECT_DOUBLE_EQ(second->frame().minX(), c.firstWidth + 8);
        EXPECT_TRUE(window->layoutIssues().empty());
    }
}

TEST_F(LayoutTest, ConflictingRequiredWidthsAreReportedOnceAndLayoutGoesOn) {
    auto root = container("root");
    auto box = fixed(10, 10, "box");
    auto neighbour = fixed(30, 10, "neighbour");
    root->addSubview(box);
    root->addSubview(neighbour);
    auto wide = box->widthAnchor().constraintEqualToConstant(200);
    wide->setIdentifier("box is 200 wide");
    auto gap = neighbour->leadingAnchor().constraintEqualTo(box->trailingAnchor(), 5);
    ViewConstraint::activate({
        root->widthAnchor().constraintEqualToConstant(300), root->heightAnchor().constraintEqualToConstant(10),
        box->widthAnchor().constraintEqualToConstant(100), wide, gap,
        box->leadingAnchor().constraintEqualTo(root->leadingAnchor()), box->topAnchor().constraintEqualTo(root->topAnchor()),
        neighbour->topAnchor().constraintEqualTo(root->topAnchor()),
    });
    auto window = windowWith(root, {300, 10});
    window->layoutIfNeeded();
    gap->setConstant(7); // another pass: the broken constraint is not reported again
    window->layoutIfNeeded();

    const auto issues = window->layoutIssues();
    ASSERT_EQ(issues.size(), 1u);
    EXPECT_EQ(issues[0].kind, WindowLayoutIssue::Kind::brokenConstraint);
    EXPECT_NE(issues[0].description.find("box is 200 wide"), std::string::npos);
    EXPECT_EQ(box->frame().width(), 100);
    EXPECT_EQ(neighbour->frame(), (Rect{107, 0, 30, 10}));
}

TEST_F(LayoutTest, UnderconstrainedVisibleViewsAreFlaggedAmbiguous) {
    auto root = container("root");
    auto placed = fixed(40, 10, "placed");
    auto floating = fixed(40, 10, "floating"); // no vertical position
    auto hidden = fixed(40, 10, "hidden");     // nothing at all, but not shown
    hidden->setHidden(true);
    for (const auto& view : {placed, floating, hidden}) root->addSubview(view);
    ViewConstraint::activate({
        root->widthAnchor().constraintEqualToConstant(100), root->heightAnchor().constraintEqualToConstant(50),
        placed->leadingAnchor().constraintEqualTo(root->leadingAnchor()), placed->topAnchor().constraintEqualTo(root->topAnchor()),
        floating->leadingAnchor().constraintEqualTo(placed->trailingAnchor()),
    });
    auto window = windowWith(root, {100, 50});
    window->layoutIfNeeded();

    const auto issues = window->layoutIssues();
    ASSERT_EQ(issues.size(), 1u);
    EXPECT_EQ(issues[0].kind, WindowLayoutIssue::Kind::ambiguousFrame);
    EXPECT_EQ(issues[0].view.lock(), floating);
    EXPECT_EQ(floating->frame().minX(), 40); // the horizontal half is still solved
}

TEST_F(LayoutTest, StackViewsDetachHiddenViewsAndSpaceAndSizeTheRest) {
    struct Case {
        const char* name;
        bool middleHidden;
        std::optional<double> spacingAfterFirst, spacingAfterMiddle;
        StackView::Distribution distribution;
        std::optional<double> stackWidth;
        std::vector<double> xs, widths;
        Size size;
    };
    using D = StackView::Distribution;
    const Case cases[] = {
        {"all shown", false, {}, {}, D::fill, {}, {5, 53, 121}, {40, 60, 80}, {206, 40}},
        {"middle hidden", true, {}, {}, D::fill, {}, {5, 53}, {40, 80}, {138, 30}},
        {"custom spacing after first", true, 20, {}, D::fill, {}, {5, 65}, {40, 80}, {150, 30}},
        {"hidden view's spacing leaves with it", true, {}, 20, D::fill, {}, {5, 53}, {40, 80}, {138, 30}},
        {"fill equally", false, {}, {}, D::fillEqually, 296, {5, 103, 201}, {90, 90, 90}, {296, 40}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto views = std::vector<std::shared_ptr<View>>{fixed(40, 20), fixed(60, 30), fixed(80, 10)};
        auto stack = StackView::create(views);
        stack->setTranslatesAutoresizingMaskIntoConstraints(false);
        stack->setEdgeInsets({5, 5, 5, 5});
        stack->setDistribution(c.distribution);
        stack->setCustomSpacing(c.spacingAfterFirst, views[0].get());
        stack->setCustomSpacing(c.spacingAfterMiddle, views[1].get());
        views[1]->setHidden(c.middleHidden);
        if (c.stackWidth) stack->widthAnchor().constraintEqualToConstant(*c.stackWidth)->setActive(true);
        auto window = windowWith(stack, {400, 100});
        window->layoutIfNeeded();

        std::vector<double> xs, widths;
        for (const auto& view : views) {
            if (view->isHidden()) continue;
            xs.push_back(view->frame().minX());
            widths.push_back(view->frame().width());
            // Centred across the row, the tallest view giving the stack its height.
            EXPECT_DOUBLE_EQ(view->frame().midY(), c.size.height / 2);
        }
        EXPECT_EQ(xs, c.xs);
        EXPECT_EQ(widths, c.widths);
        EXPECT_EQ(stack->frame().size, c.size);
        EXPECT_TRUE(window->layoutIssues().empty());
    }
}

TEST_F(LayoutTest, StackViewRelayoutsWhenAnArrangedViewIsShownAgain) {
    auto views = std::vector<std::shared_ptr<View>>{fixed(40, 20), fixed(60, 20)};
    auto stack = StackView::create(views);
    stack->setOrientation(LayoutAxis::vertical);
    stack->setAlignment(StackView::Alignment::leading);
    stack->setTranslatesAutoresizingMaskIntoConstraints(false);
    auto window = windowWith(stack, {200, 200});
    views[0]->setHidden(true);
    window->layoutIfNeeded();
    EXPECT_EQ(stack->frame().size, (Size{60, 20}));
    views[0]->setHidden(false);
    window->layoutIfNeeded();
    EXPECT_EQ(stack->frame().size, (Size{60, 48}));
    EXPECT_EQ(views[0]->frame(), (Rect{0, 28, 40, 20})); // at the top of an unflipped stack
}

TEST_F(LayoutTest, WrappingViewIsMeasuredAtItsSolvedWidth) {
    struct Case {
        double width;
        double height;
    };
    for (const Case c : {Case{392, 34}, Case{200, 51}, Case{500, 17}}) {
        auto box = container("box");
        auto text = std::make_shared<Wrapping>();
        box->addSubview(text);
        auto width = box->widthAnchor().constraintEqualToConstant(c.width);
        ViewConstraint::activate({
            width,
            text->leadingAnchor().constraintEqualTo(box->leadingAnchor()),
            text->trailingAnchor().constraintEqualTo(box->trailingAnchor()),
            text->topAnchor().constraintEqualTo(box->topAnchor()),
            box->bottomAnchor().constraintEqualTo(text->bottomAnchor()),
        });
        auto window = windowWith(box, {600, 300});
        window->layoutIfNeeded();
        SCOPED_TRACE(c.width);
        EXPECT_EQ(text->frame().size, (Size{c.width, c.height}));
        EXPECT_EQ(box->frame().height(), c.height);
        EXPECT_TRUE(window->layoutIssues().empty());
    }
}

TEST_F(LayoutTest, WindowGrowsForContentThatNeedsMoreAndReportsIt) {
    struct Case {
        double required;         // a required minimum width, or 0
        double compression;      // of a 300-point label
        Size content;
        bool grew;
    };
    const Case cases[] = {
        {0, 750, {300, 40}, true},  // compression resistance outranks the window's size
        {0, 490, {264, 40}, false}, // the window's size outranks it: the label is compressed
        {320, 490, {320, 40}, true},
    };
    for (const Case& c : cases) {
        auto label = fixed(300, 16, "label");
        label->setContentCompressionResistancePriority(c.compression, LayoutAxis::horizontal);
        auto window = Window::create({0, 0, 264, 40}, WindowStyle::borderless);
        auto& content = *window->contentView();
        content.addSubview(label);
        ViewConstraint::activate({
            label->leadingAnchor().constraintEqualTo(content.leadingAnchor()),
            label->trailingAnchor().constraintEqualTo(content.trailingAnchor()),
            label->topAnchor().constraintEqualTo(content.topAnchor()),
            content.widthAnchor().constraintGreaterThanOrEqualToConstant(c.required),
        });
        window->layoutIfNeeded();
        SCOPED_TRACE(c.required + c.compression);
        EXPECT_EQ(window->frame().size, c.content);
        EXPECT_EQ(label->frame().width(), c.content.width);
        EXPECT_EQ(kinds(*window), c.grew ? std::vector{WindowLayoutIssue::Kind::windowGrew}
                                         : std::vector<WindowLayoutIssue::Kind>{});
    }
}

TEST_F(LayoutTest, RemovingAViewDropsTheConstraintsThatCrossTheCut) {
    auto root = container("root");
    auto group = container("group");
    auto inner = fixed(20, 20, "inner");
    auto sibling = fixed(30, 20, "sibling");
    root->addSubview(group);
    root->addSubview(sibling);
    group->addSubview(inner);
    auto across = sibling->leadingAnchor().constraintEqualTo(inner->trailingAnchor(), 4);
    auto within = inner->leadingAnchor().constraintEqualTo(group->leadingAnchor(), 3);
    ViewConstraint::activate({across, within});
    ASSERT_EQ(across->isActive(), true);

    group->removeFromSuperview();

    EXPECT_FALSE(across->isActive());
    EXPECT_TRUE(within->isActive());
    EXPECT_TRUE(root->constraints().empty());
    ASSERT_EQ(group->constraints().size(), 1u);
    EXPECT_EQ(group->constraints()[0], within);
}

TEST_F(LayoutTest, AutoresizingMasksFollowAConstrainedSuperview) {
    struct Case {
        unsigned mask;
        Rect after;
    };
    const Case cases[] = {
        {autoresizingNone, {10, 10, 30, 20}},
        {autoresizingWidthSizable, {10, 10, 130, 20}},
        {autoresizingMinXMargin | autoresizingMinYMargin, {110, 60, 30, 20}},
        // Two flexible parts share the change in proportion: margin 10 and width 30.
        {autoresizingMinXMargin | autoresizingWidthSizable, {35, 10, 105, 20}},
    };
    for (const Case& c : cases) {
        auto box = container("box");
        box->setFrame({0, 0, 50, 40});
        auto child = View::create({10, 10, 30, 20});
        child->setAutoresizingMask(c.mask);
        box->addSubview(child);
        auto width = box->widthAnchor().constraintEqualToConstant(50);
        auto height = box->heightAnchor().constraintEqualToConstant(40);
        ViewConstraint::activate({width, height});
        auto window = windowWith(box, {300, 300});
        window->layoutIfNeeded();
        ASSERT_EQ(child->frame(), (Rect{10, 10, 30, 20}));
        width->setConstant(150);
        height->setConstant(90);
        window->layoutIfNeeded();
        SCOPED_TRACE(c.mask);
        EXPECT_EQ(child->frame(), c.after);
        EXPECT_TRUE(window->layoutIssues().empty());
    }
}

} // namespace
