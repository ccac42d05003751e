#include "ui/InterfaceCardView.h"

#include "platform/appkit/Path.h"
#include "platform/desktop/Workspace.h"
#include "platform/desktop/WorkspaceNotifications.h"
#include "platform/dispatch/DispatchQueue.h"

namespace tarpelix {

using namespace platform;

namespace {
constexpr double cornerRadius = 12;

// The border is faint unless the user asked for more contrast.
double borderAlpha() { return Workspace::accessibilityDisplayShouldIncreaseContrast() ? 1.0 : 0.35; }
} // namespace

InterfaceCardView::InterfaceCardView(const Rect& frame) : View(frame) {}

InterfaceCardView::~InterfaceCardView() { Workspace::notificationCenter().removeObserver(accessibilityObserver); }

std::shared_ptr<InterfaceCardView> InterfaceCardView::create(const Rect& frame) {
    auto card = std::make_shared<InterfaceCardView>(frame);
    std::weak_ptr<InterfaceCardView> weak = card;
    card->accessibilityObserver = Workspace::notificationCenter().addObserver(
        WorkspaceNotificationName::accessibilityDisplayOptionsDidChange, nullptr, DispatchQueue::main(),
        [weak](const Notification&) {
            if (auto view = weak.lock()) view->setNeedsDisplay(true);
        });
    return card;
}

void InterfaceCardView::viewDidChangeEffectiveAppearance() { setNeedsDisplay(true); }

void InterfaceCardView::draw(GraphicsContext& context, const Rect&) {
    const Path outline = Path::roundedRect(bounds().insetBy(0.5, 0.5), cornerRadius, cornerRadius);
    context.fill(outline, Color::controlBackgroundColor());
    context.setLineWidth(1);
    context.stroke(outline, Color::separatorColor().withAlphaComponent(borderAlpha()));
}

} // namespace tarpelix
