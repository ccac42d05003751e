#include "platform/appkit/Layer.h"

#include "platform/appkit/AppKitState.h"

#include <algorithm>

namespace tarpelix::platform {

namespace {

struct TransactionSettings {
    bool disableActions = false;
    double animationDuration = 0.25;
};

// The implicit transaction first, then every explicit one begun and not yet committed.
thread_local std::vector<TransactionSettings> transactions{TransactionSettings{}};

AnimationValue colorValue(const std::optional<Color>& color) {
    if (!color) return std::monostate{};
    return *color;
}

// Layers keep colours fixed, resolved when set (the drawing appearance of that moment).
std::optional<Color> fixedColor(const std::optional<Color>& color) {
    if (!color) return std::nullopt;
    return color->cgColor();
}

} // namespace

void Transaction::begin() { transactions.push_back(transactions.back()); }

void Transaction::commit() {
    if (transactions.size() > 1) transactions.pop_back();
}

bool Transaction::disableActions() { return transactions.back().disableActions; }
void Transaction::setDisableActions(bool disable) { transactions.back().disableActions = disable; }
double Transaction::animationDuration() { return transactions.back().animationDuration; }
void Transaction::setAnimationDuration(double seconds) { transactions.back().animationDuration = seconds; }

void Transaction::flush() {
    transactions.front() = TransactionSettings{};
    appkitstate::countFlush();
}

// MARK: Layer

void Layer::changed(const std::string& keyPath, AnimationValue from, AnimationValue to) {
    if (Transaction::disableActions() || from == to) return;
    addAnimation({keyPath, std::move(from), std::move(to), Transaction::animationDuration(), 0}, keyPath);
}

void Layer::setBounds(const Rect& bounds) {
    changed("bounds", bounds_, bounds);
    bounds_ = bounds;
}

void Layer::setPosition(Point position) {
    changed("position", position_, position);
    position_ = position;
}

void Layer::setTransform(const AffineTransform& transform) {
    changed("transform", transform_, transform);
    transform_ = transform;
}

void Layer::setOpacity(double opacity) {
    opacity = std::clamp(opacity, 0.0, 1.0);
    changed("opacity", opacity_, opacity);
    opacity_ = opacity;
}

void Layer::setBackgroundColor(std::optional<Color> color) {
    color = fixedColor(color);
    changed("backgroundColor", colorValue(backgroundColor_), colorValue(color));
    backgroundColor_ = std::move(color);
}

void Layer::addSublayer(std::shared_ptr<Layer> layer) {
    if (!layer || layer.get() == this) return;
    layer->removeFromSuperlayer();
    layer->superlayer_ = weak_from_this();
    sublayers_.push_back(std::move(layer));
}

void Layer::removeFromSuperlayer() {
    auto parent = superlayer_.lock();
    superlayer_.reset();
    if (!parent) return;
    std::erase_if(parent->sublayers_, [this](const auto& layer) { return layer.get() == this; });
}

void Layer::addAnimation(const BasicAnimation& animation, const std::string& key) {
    removeAnimation(key);
    animations_.emplace_back(key, animation);
}

void Layer::removeAnimation(const std::string& key) {
    std::erase_if(animations_, [&](const auto& entry) { return entry.first == key; });
}

std::optional<BasicAnimation> Layer::animation(const std::string& key) const {
    for (const auto& [k, animation] : animations_) {
        if (k == key) return animation;
    }
    return std::nullopt;
}

std::vector<std::string> Layer::animationKeys() const {
    std::vector<std::string> keys;
    for (const auto& entry : animations_) keys.push_back(entry.first);
    return keys;
}

void Layer::render(GraphicsContext& context) const { render(context, 1); }

void Layer::render(GraphicsContext& context, double inheritedAlpha) const {
    if (hidden_) return;
    const double alpha = inheritedAlpha * opacity_;
    context.saveGState();
    // The anchor point sits at `position`; the transform turns the layer about it.
    context.translate(position_.x, position_.y);
    context.concatenate(transform_);
    context.translate(-anchorPoint_.x * bounds_.size.width - bounds_.origin.x,
                      -anchorPoint_.y * bounds_.size.height - bounds_.origin.y);
    context.setAlpha(alpha);
    if (backgroundColor_) context.fill(Path::rect(bounds_), *backgroundColor_);
    drawContents(context);
    for (const auto& layer : sublayers_) layer->render(context, alpha);
    context.restoreGState();
}

void Layer::drawContents(GraphicsContext&) const {}

// MARK: ShapeLayer

void ShapeLayer::setPath(const Path& path) {
    changed("path", path_, path);
    path_ = path;
}

void ShapeLayer::setFillColor(std::optional<Color> color) {
    color = fixedColor(color);
    changed("fillColor", colorValue(fillColor_), colorValue(color));
    fillColor_ = std::move(color);
}

void ShapeLayer::setStrokeColor(std::optional<Color> color) {
    color = fixedColor(color);
    changed("strokeColor", colorValue(strokeColor_), colorValue(color));
    strokeColor_ = std::move(color);
}

void ShapeLayer::setLineWidth(double width) {
    changed("lineWidth", lineWidth_, width);
    lineWidth_ = width;
}

void ShapeLayer::setStrokeStart(double fraction) {
    fraction = std::clamp(fraction, 0.0, 1.0);
    changed("strokeStart", strokeStart_, fraction);
    strokeStart_ = fraction;
}

void ShapeLayer::setStrokeEnd(double fraction) {
    fraction = std::clamp(fraction, 0.0, 1.0);
    changed("strokeEnd", strokeEnd_, fraction);
    strokeEnd_ = fraction;
}

void ShapeLayer::drawContents(GraphicsContext& context) const {
    if (fillColor_) context.fill(path_, *fillColor_);
    if (strokeColor_ && lineWidth_ > 0) {
        context.setLineWidth(lineWidth_);
        context.setLineCap(lineCap_);
        context.stroke(path_.trimmed(strokeStart_, strokeEnd_), *strokeColor_);
    }
}

} // namespace tarpelix::platform
