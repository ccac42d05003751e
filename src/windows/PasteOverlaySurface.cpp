#include "windows/PasteOverlaySurface.h"

#include "platform/appkit/Path.h"
#include "platform/desktop/Workspace.h"
#include "platform/desktop/WorkspaceNotifications.h"
#include "platform/dispatch/DispatchQueue.h"

namespace tarpelix {

using namespace platform;

PasteOverlaySurface::~PasteOverlaySurface() { Workspace::notificationCenter().removeObserver(accessibilityObserver); }

std::shared_ptr<PasteOverlaySurface> PasteOverlaySurface::create(const Rect& frame) {
    auto surface = std::make_shared<PasteOverlaySurface>(frame);
    std::weak_ptr<PasteOverlaySurface> weak = surface;
    surface->accessibilityObserver = Workspace::notificationCenter().addObserver(
        WorkspaceNotificationName::accessibilityDisplayOptionsDidChange, nullptr, DispatchQueue::main(),
        [weak](const Notification&) {
            if (auto view = weak.lock()) view->setNeedsDisplay(true);
        });
    return surface;
}

void PasteOverlaySurface::viewDidChangeEffectiveAppearance() { setNeedsDisplay(true); }

void PasteOverlaySurface::draw(GraphicsContext& context, const Rect&) {
    const double radius = bounds().height() / 2;
    const Path pill = Path::roundedRect(bounds().insetBy(0.5, 0.5), radius, radius);
    context.fill(pill, Color::controlBackgroundColor());
    const double borderAlpha = Workspace::accessibilityDisplayShouldIncreaseContrast() ? 1.0 : 0.45;
    context.setLineWidth(1);
    context.stroke(pill, Color::separatorColor().withAlphaComponent(borderAlpha));
}

} // namespace tarpelix
