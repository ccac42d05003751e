// The alert that says why updates are unavailable, with the longest reason it can give.

#include "gallery/GalleryScenes.h"

#include "platform/appkit/Alert.h"
#include "platform/appkit/Path.h"
#include "platform/appkit/Sheet.h"
#include "updates/UpdateController.h"

namespace tarpelix::gallery {

using namespace platform;

namespace {

constexpr double alertGap = 20;

// The longest reason: a build without any update configuration.
std::shared_ptr<Alert> longestUnavailableAlert() {
    return UpdateController::unavailableAlert(*UpdateConfiguration(UpdateConfiguration::Info{}).unavailabilityReason());
}

Size sceneSize() {
    const Size alert = longestUnavailableAlert()->window().frame().size;
    return {alert.width + 2 * alertGap, alert.height + 2 * alertGap};
}

void drawUnavailableAlert(GraphicsContext& g, const std::string&) {
    const Size size = sceneSize();
    g.fill(Path::rect({0, 0, size.width, size.height}), Color::underPageBackgroundColor());
    auto alert = longestUnavailableAlert();
    Window& window = alert->window();
    window.makeKeyAndOrderFront();
    g.saveGState();
    g.translate(alertGap, alertGap);
    drawWindow(g, window);
    g.restoreGState();
    window.orderOut();
}

} // namespace

Scene updatesUnavailableAlertScene() {
    return {"updates-unavailable-alert", {"light", "dark"}, sceneSize(), drawUnavailableAlert};
}

} // namespace tarpelix::gallery
