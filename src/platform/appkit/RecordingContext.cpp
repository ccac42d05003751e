#include "platform/appkit/RecordingContext.h"

#include <algorithm>

namespace tarpelix::platform {

namespace {

// Layout works in 1/1024 points: a box exactly as wide as its text may differ by that much.
constexpr double fitTolerance = 0.01;

Rect transformedBounds(const AffineTransform& t, const Rect& r) {
    const Point corners[] = {t.apply(Point{r.minX(), r.minY()}), t.apply(Point{r.maxX(), r.minY()}),
                             t.apply(Point{r.minX(), r.maxY()}), t.apply(Point{r.maxX(), r.maxY()})};
    double x0 = corners[0].x, x1 = x0, y0 = corners[0].y, y1 = y0;
    for (const Point& p : corners) {
        x0 = std::min(x0, p.x), x1 = std::max(x1, p.x), y0 = std::min(y0, p.y), y1 = std::max(y1, p.y);
    }
    return {x0, y0, x1 - x0, y1 - y0};
}

} // namespace

std::vector<drawing::Text> RecordingContext::texts() const {
    std::vector<drawing::Text> result;
    for (const auto& op : operations_) {
        if (const auto* text = std::get_if<drawing::Text>(&op)) result.push_back(*text);
    }
    return result;
}

void RecordingContext::saveGState() {
    saved_.push_back(state_);
    operations_.emplace_back(drawing::Save{});
}

void RecordingContext::restoreGState() {
    if (saved_.empty()) return; // unbalanced: nothing to restore
    state_ = saved_.back();
    saved_.pop_back();
    operations_.emplace_back(drawing::Restore{});
}

void RecordingContext::concatenate(const AffineTransform& transform) {
    state_.transform = transform.concat(state_.transform);
    operations_.emplace_back(drawing::Concatenate{transform});
}

void RecordingContext::setAlpha(double alpha) { operations_.emplace_back(drawing::SetAlpha{std::clamp(alpha, 0.0, 1.0)}); }

void RecordingContext::fill(const Path& path, const Color& color) {
    operations_.emplace_back(drawing::Fill{path, color.resolved()});
}

void RecordingContext::stroke(const Path& path, const Color& color) {
    operations_.emplace_back(drawing::Stroke{path, color.resolved(), state_.lineWidth, state_.cap, state_.join});
}

void RecordingContext::clip(const Path& path) { operations_.emplace_back(drawing::Clip{path}); }

void RecordingContext::drawLinearGradient(const Path& path, const std::vector<GradientStop>& stops,
                                          double angleDegrees) {
    drawing::LinearGradient op{path, {}, angleDegrees};
    for (const auto& stop : stops) op.stops.emplace_back(std::clamp(stop.location, 0.0, 1.0), stop.color.resolved());
    operations_.emplace_back(std::move(op));
}

void RecordingContext::drawText(const AttributedString& text, const Rect& box) {
    drawing::Text op{text.resolvingColors(), box, transformedBounds(state_.transform, box), {}, true};
    op.layout = TextLayout::layout(op.text, box.width());
    op.fitted = op.layout.size.width <= box.width() + fitTolerance &&
                op.layout.size.height <= box.height() + fitTolerance;
    operations_.emplace_back(std::move(op));
}

void RecordingContext::drawBitmap(std::shared_ptr<const Image> bitmap, const Rect& rect, std::optional<Color> tint) {
    std::optional<RGBA> resolved;
    if (tint) resolved = tint->resolved();
    operations_.emplace_back(drawing::Bitmap{std::move(bitmap), rect, resolved});
}

void RecordingContext::drawFocusRingMask(const Path& path) {
    operations_.emplace_back(drawing::FocusRingMask{path, Color::keyboardFocusIndicatorColor().resolved()});
}

std::vector<LayoutIssue> auditLayout(const RecordingContext& recording) {
    std::vector<LayoutIssue> issues;
    for (const auto& text : recording.texts()) {
        if (!text.fitted) issues.push_back({LayoutIssue::Kind::textDoesNotFit, text.text.string(), text.frame});
        if (!text.layout.allGlyphsFound) {
            issues.push_back({LayoutIssue::Kind::missingGlyphs, text.text.string(), text.frame});
        }
    }
    return issues;
}

} // namespace tarpelix::platform
