#include "windows/PasteOverlayActivityIndicator.h"

#include "platform/appkit/Color.h"
#include "platform/appkit/Path.h"
#include "platform/desktop/Workspace.h"
#include "platform/desktop/WorkspaceNotifications.h"
#include "platform/dispatch/DispatchQueue.h"

#include <numbers>

namespace tarpelix {

using namespace platform;

namespace {

// Layer changes made here are settings, not motion: no implicit animations.
class ActionsDisabled {
public:
    ActionsDisabled() {
        Transaction::begin();
        Transaction::setDisableActions(true);
    }
    ~ActionsDisabled() { Transaction::commit(); }
    ActionsDisabled(const ActionsDisabled&) = delete;
    ActionsDisabled& operator=(const ActionsDisabled&) = delete;
};

} // namespace

PasteOverlayActivityIndicator::PasteOverlayActivityIndicator(ReduceMotion reduceMotion)
    : View(Rect{}), track_(ShapeLayer::create()), arc_(ShapeLayer::create()), reduceMotion_(std::move(reduceMotion)) {
    setWantsLayer(true);
    {
        ActionsDisabled noAnimation;
        for (const auto& ring : {track_, arc_}) {
            ring->setFillColor(std::nullopt);
            ring->setLineWidth(2);
            ring->setLineCap(LineCap::round);
            layer()->addSublayer(ring);
        }
        arc_->setStrokeEnd(0.72);
    }
    setHidden(true);
}

PasteOverlayActivityIndicator::~PasteOverlayActivityIndicator() {
    Workspace::notificationCenter().removeObserver(accessibilityObserver);
}

PasteOverlayActivityIndicator::ReduceMotion PasteOverlayActivityIndicator::defaultReduceMotion() {
    return [] { return Workspace::accessibilityDisplayShouldReduceMotion(); };
}

std::shared_ptr<PasteOverlayActivityIndicator> PasteOverlayActivityIndicator::create(ReduceMotion reduceMotion) {
    auto indicator = std::make_shared<PasteOverlayActivityIndicator>(std::move(reduceMotion));
    std::weak_ptr<PasteOverlayActivityIndicator> weak = indicator;
    indicator->accessibilityObserver = Workspace::notificationCenter().addObserver(
        WorkspaceNotificationName::accessibilityDisplayOptionsDidChange, nullptr, DispatchQueue::main(),
        [weak](const Notification&) {
            if (auto view = weak.lock()) {
                view->refreshColors();
                view->refreshMotion();
            }
        });
    indicator->refreshColors();
    return indicator;
}

void PasteOverlayActivityIndicator::startAnimation() {
    isRunning_ = true;
    setHidden(false);
    refreshMotion();
}

void PasteOverlayActivityIndicator::stopAnimation() {
    isRunning_ = false;
    setHidden(true);
    arc_->removeAnimation(rotationKey);
}

void PasteOverlayActivityIndicator::layout() {
    View::layout();
    ActionsDisabled noAnimation;
    const Rect b = bounds();
    for (const auto& ring : {track_, arc_}) {
        ring->setBounds(b);
        ring->setPosition(b.center());
        ring->setPath(Path::oval(b.insetBy(2, 2)));
    }
}

void PasteOverlayActivityIndicator::viewDidChangeEffectiveAppearance() {
    View::viewDidChangeEffectiveAppearance();
    refreshColors();
}

void PasteOverlayActivityIndicator::refreshColors() {
    // Layers keep fixed colours: resolve the accent under this view's appearance.
    DrawingAppearanceScope scope(effectiveAppearance());
    ActionsDisabled noAnimation;
    track_->setStrokeColor(Color::controlAccentColor().withAlphaComponent(0.18));
    arc_->setStrokeColor(Color::controlAccentColor());
    setNeedsDisplay(true);
}

void PasteOverlayActivityIndicator::refreshMotion() {
    if (isRunning_ && !reduceMotion_()) {
        if (arc_->animation(rotationKey)) return;
        arc_->addAnimation({.keyPath = "transform.rotation.z",
                            .fromValue = 0.0,
                            .toValue = -2 * std::numbers::pi,
                            .duration = 0.85,
                            .repeatCount = BasicAnimation::repeatForever},
                           rotationKey);
    } else {
        arc_->removeAnimation(rotationKey);
    }
}

} // namespace tarpelix
