#include "platform/foundation/Geometry.h"

#include <gtest/gtest.h>

#include <numbers>

using namespace tarpelix::platform;

TEST(Geometry, RectanglesInsetIntersectAndUniteInUpwardCoordinates) {
    const Rect r{10, 20, 100, 50};
    EXPECT_EQ((Point{r.minX(), r.midX()}), (Point{10, 60}));
    EXPECT_EQ((Point{r.maxY(), r.midY()}), (Point{70, 45}));
    EXPECT_EQ(Rect(110, 70, -100, -50).standardized(), r);
    EXPECT_EQ(r.insetBy(0.5, 0.5), Rect(10.5, 20.5, 99, 49));
    EXPECT_EQ(r.insetBy(EdgeInsets{.top = 1, .left = 2, .bottom = 3, .right = 4}), Rect(12, 23, 94, 46));
    EXPECT_EQ(r.offsetBy(-10, 5), Rect(0, 25, 100, 50));
    EXPECT_EQ(Rect(0.4, 0.6, 1.2, 1.1).integral(), Rect(0, 0, 2, 2));

    struct Row {
        Rect other;
        bool intersects;
        Rect intersection;
        Rect unionWith;
    };
    const Row rows[] = {
        {{50, 40, 100, 100}, true, {50, 40, 60, 30}, {10, 20, 140, 120}},
        {{110, 20, 10, 10}, false, {}, {10, 20, 110, 50}}, // touching edges share no area
        {{0, 0, 0, 0}, false, {}, r},                      // an empty rectangle adds nothing
        {{20, 30, 10, 10}, true, {20, 30, 10, 10}, r},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(r.intersects(row.other), row.intersects);
        EXPECT_EQ(r.intersection(row.other), row.intersection);
        EXPECT_EQ(r.unionWith(row.other), row.unionWith);
    }
    EXPECT_TRUE(r.contains(Point{10, 20}));
    EXPECT_FALSE(r.contains(Point{110, 20})); // the max edge is outside
    EXPECT_TRUE(r.contains(Rect{20, 30, 10, 10}));
    EXPECT_FALSE(r.contains(Rect{20, 30, 100, 10}));
}

TEST(Geometry, TransformsComposeInDrawingOrderAndInvert) {
    // Scale first, then move: (1, 1) -> (2, 4) -> (12, 24).
    const auto scaleThenMove = AffineTransform::scaling(2, 4).concat(AffineTransform::translation(10, 20));
    EXPECT_EQ(scaleThenMove.apply(Point{1, 1}), (Point{12, 24}));
    // A context that was translated, then scaled, scales the coordinates first.
    EXPECT_EQ(AffineTransform::identity().translatedBy(10, 20).scaledBy(2, 4), scaleThenMove);
    EXPECT_EQ(scaleThenMove.inverted().apply(Point{12, 24}), (Point{1, 1}));
    EXPECT_TRUE(AffineTransform::scaling(0, 1).inverted().isIdentity());

    // A quarter turn is counter-clockwise with y up.
    const auto turned = AffineTransform::identity().rotatedBy(std::numbers::pi / 2).apply(Point{1, 0});
    EXPECT_NEAR(turned.x, 0, 1e-12);
    EXPECT_NEAR(turned.y, 1, 1e-12);
}
