// The install window, shown instead of the application while it must first be moved to the
// Applications folder.

#include "gallery/GalleryScenes.h"

#include "app/InstallationWindowController.h"

namespace tarpelix::gallery {

using namespace platform;

namespace {

constexpr Size installWindowSize{InstallationWindowController::contentWidth,
                                 InstallationWindowController::contentHeight + Window::titleBarHeight};

void drawInstallWindow(GraphicsContext& g, const std::string&) {
    auto controller = InstallationWindowController::create([] {}, [] {});
    Window& window = controller->window();
    window.makeKeyAndOrderFront();
    drawWindow(g, window);
    window.orderOut();
}

} // namespace

Scene installWindowScene() { return {"install-window", {"light", "dark"}, installWindowSize, drawInstallWindow}; }

} // namespace tarpelix::gallery
