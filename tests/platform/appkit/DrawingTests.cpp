#include "platform/appkit/AppKitControl.h"
#include "platform/appkit/Layer.h"
#include "platform/appkit/RecordingContext.h"
#include "platform/appkit/WindowDisplay.h"

#include <cmath>
#include <gtest/gtest.h>
#include <numbers>

using namespace tarpelix::platform;

namespace {

template <class T> std::vector<T> operationsOf(const RecordingContext& recording) {
    std::vector<T> result;
    for (const auto& op : recording.operations()) {
        if (const auto* found = std::get_if<T>(&op)) result.push_back(*found);
    }
    return result;
}

// A card as the toolkit draws one: inset half a point, corner radius 12, a faint border that
// Increase Contrast makes opaque.
void drawCard(GraphicsContext& g, const Rect& bounds) {
    const Path outline = Path::roundedRect(bounds.insetBy(0.5, 0.5), 12, 12);
    g.fill(outline, Color::controlBackgroundColor());
    g.setLineWidth(1);
    const bool contrast = DrawingAppearanceScope::current().increaseContrast;
    g.stroke(outline, Color::separatorColor().withAlphaComponent(contrast ? 1.0 : 0.35));
}

TEST(RecordingTest, ACardRecordsItsInsetRoundedOutlineInTheColoursOfEachAppearance) {
    std::vector<drawing::Fill> fills;
    std::vector<drawing::Stroke> strokes;
    for (DrawingAppearance appearance :
         {DrawingAppearance{Appearance::light, false}, {Appearance::dark, false}, {Appearance::light, true}}) {
        DrawingAppearanceScope scope(appearance);
        RecordingContext recording({200, 100});
        drawCard(recording, {0, 0, 200, 100});
        ASSERT_EQ(recording.operations().size(), 2u);
        fills.push_back(operationsOf<drawing::Fill>(recording).at(0));
        strokes.push_back(operationsOf<drawing::Stroke>(recording).at(0));
        EXPECT_EQ(fills.back().color, Color::controlBackgroundColor().resolved(appearance));
    }
    const Path& outline = fills[0].path;
    EXPECT_EQ(outline.bounds(), (Rect{0.5, 0.5, 199, 99}));
    // The straight bottom edge starts and ends 12 points in from the corners.
    EXPECT_EQ(outline.elements()[0].points[0], (Point{12.5, 0.5}));
    EXPECT_EQ(outline.elements()[1].points[0], (Point{187.5, 0.5}));
    EXPECT_EQ(strokes[0].path, outline);
    EXPECT_EQ(strokes[0].lineWidth, 1);
    EXPECT_NE(fills[0].color, fills[1].color);
    EXPECT_EQ(strokes[0].color.alpha, 0.35);
    EXPECT_EQ(strokes[2].color.alpha, 1.0);
}

TEST(RecordingTest, SavedStateComesBackAndTextFramesFollowTheTransformation) {
    RecordingContext recording({100, 100});
    recording.saveGState();
    recording.translate(10, 20);
    recording.setLineWidth(3);
    recording.restoreGState();
    recording.restoreGState(); // unbalanced: ignored
    recording.stroke(Path::line({0, 0}, {1, 1}), Color::black());
    EXPECT_EQ(operationsOf<drawing::Stroke>(recording).at(0).lineWidth, 1);
    EXPECT_TRUE(recording.currentTransform().isIdentity());
    EXPECT_EQ(operationsOf<drawing::Restore>(recording).size(), 1u);
}

TEST(LayerTest, AnAnimationAddedTwiceUnderOneKeyIsThereOnce) {
    auto arc = ShapeLayer::create();
    const BasicAnimation rotation{"transform.rotation.z", 0.0, -2 * std::numbers::pi, 0.85,
                                  BasicAnimation::repeatForever};
    arc->addAnimation(rotation, "rotation");
    auto second = rotation;
    second.duration = 2;
    arc->addAnimation(second, "rotation");
    EXPECT_EQ(arc->animationKeys(), std::vector<std::string>{"rotation"});
    EXPECT_EQ(arc->animation("rotation"), second);
    arc->removeAnimation("rotation");
    EXPECT_FALSE(arc->animation("rotation"));
}

TEST(LayerTest, PropertyChangesAnimateImplicitlyUnlessTheTransactionDisablesActions) {
    auto track = ShapeLayer::create();
    track->setStrokeColor(Color::rgb(0, 0, 1));
    const auto implicit = track->animation("strokeColor");
    ASSERT_TRUE(implicit);
    EXPECT_EQ(implicit->fromValue, AnimationValue{});
    EXPECT_EQ(implicit->toValue, AnimationValue{Color::rgb(0, 0, 1)});
    EXPECT_EQ(implicit->duration, 0.25);

    auto quiet = ShapeLayer::create();
    Transaction::begin();
    Transaction::setDisableActions(true);
    quiet->setStrokeColor(Color::rgb(0, 0, 1));
    quiet->setBounds({0, 0, 18, 18});
    Transaction::begin(); // a nested transaction inherits the setting
    quiet->setLineWidth(2);
    Transaction::commit();
    Transaction::commit();
    EXPECT_TRUE(quiet->animationKeys().empty());
    quiet->setStrokeEnd(0.72);
    EXPECT_EQ(quiet->animationKeys(), std::vector<std::string>{"strokeEnd"});

    // Disabling without an explicit transaction lasts until the flush commits it.
    const int flushes = AppKitControl::animationFlushes();
    Transaction::setDisableActions(true);
    WindowDisplay::flushAnimationTransaction();
    EXPECT_EQ(AppKitControl::animationFlushes(), flushes + 1);
    EXPECT_FALSE(Transaction::disableActions());
}

TEST(LayerTest, LayersRenderAtTheirModelValues) {
    // The overlay's activity ring: 18 × 18, an ellipse inset by 2, stroked over 72 % of it.
    auto host = Layer::create();
    auto arc = ShapeLayer::create();
    Transaction::begin();
    Transaction::setDisableActions(true);
    arc->setBounds({0, 0, 18, 18});
    arc->setPosition({9, 9});
    arc->setPath(Path::oval(Rect{0, 0, 18, 18}.insetBy(2, 2)));
    arc->setFillColor(std::nullopt);
    arc->setStrokeColor(Color::controlAccentColor());
    arc->setLineWidth(2);
    arc->setStrokeEnd(0.72);
    Transaction::commit();
    arc->addAnimation({"transform.rotation.z", 0.0, -2 * std::numbers::pi, 0.85, BasicAnimation::repeatForever},
                      "rotation");
    host->addSublayer(arc);

    RecordingContext recording({18, 18});
    host->render(recording);
    EXPECT_TRUE(recording.currentTransform().isIdentity());
    EXPECT_TRUE(operationsOf<drawing::Fill>(recording).empty());
    const auto strokes = operationsOf<drawing::Stroke>(recording);
    ASSERT_EQ(strokes.size(), 1u);
    EXPECT_NEAR(strokes[0].path.length(), 0.72 * 2 * std::numbers::pi * 7, 0.05);
    EXPECT_EQ(strokes[0].lineWidth, 2);
    // Unrotated: the arc starts at the ellipse's rightmost point.
    EXPECT_EQ(strokes[0].path.elements()[0].points[0], (Point{16, 9}));

    arc->setHidden(true);
    RecordingContext hidden({18, 18});
    host->render(hidden);
    EXPECT_TRUE(operationsOf<drawing::Stroke>(hidden).empty());
}

} // namespace
