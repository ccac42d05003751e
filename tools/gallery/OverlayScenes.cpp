// The paste overlay as it shows each stage of a paste: in progress with its ring, and each of
// the six results it draws; under Increase Contrast, in progress and success.

#include "gallery/GalleryScenes.h"

#include "model/PasteFeedback.h"
#include "platform/appkit/Path.h"
#include "platform/foundation/Uuid.h"
#include "windows/PasteOverlayController.h"

#include <optional>
#include <vector>

namespace tarpelix::gallery {

using namespace platform;

namespace {

using Outcome = PasteFeedback::Outcome;

constexpr double gap = 16;
constexpr int columns = 2;
constexpr int rows = 4;
constexpr Size overlaySize = PasteOverlayController::size;
constexpr Size sceneSize{columns * overlaySize.width + (columns + 1) * gap, rows * overlaySize.height + (rows + 1) * gap};

void drawPasteOverlay(GraphicsContext& g, const std::string& state) {
    const PinnedDesktop pinned(state == "contrast");
    g.fill(Path::rect({{0, 0}, sceneSize}), Color::windowBackgroundColor());

    std::vector<std::optional<Outcome>> shown = {std::nullopt,      Outcome::success,   Outcome::failed,
                                                 Outcome::cancelled, Outcome::uploadedWithoutInsertion,
                                                 Outcome::ambiguous, Outcome::interrupted};
    if (state == "contrast") shown.resize(2);
    const std::vector<PasteOverlayScreen> screens = {{1, {0, 0, 1440, 900}, {0, 0, 1440, 875}}};
    for (std::size_t i = 0; i < shown.size(); ++i) {
        Panel* presented = nullptr;
        auto overlay = PasteOverlayController::create(
            true, [&] { return screens; }, PasteOverlayController::scheduleTimer, [&](Panel& panel) {
                PasteOverlayController::presentPanel(panel);
                presented = &panel;
            });
        const Uuid operation = Uuid::random();
        overlay->setOrigin(operation, Rect{80, 60, 960, 640});
        PasteFeedback feedback;
        feedback.operationID = operation;
        feedback.stage = shown[i] ? PasteFeedback::Stage::inserting : PasteFeedback::Stage::uploading;
        feedback.outcome = shown[i];
        overlay->receive(feedback);
        if (!presented) continue;

        const double x = gap + double(i % columns) * (overlaySize.width + gap);
        const double top = sceneSize.height - gap - double(i / columns) * (overlaySize.height + gap);
        g.saveGState();
        g.translate(x, top - overlaySize.height);
        drawWindow(g, *presented);
        g.restoreGState();
    }
}

} // namespace

Scene pasteOverlayScene() { return {"paste-overlay", {"light", "dark", "contrast"}, sceneSize, drawPasteOverlay}; }

} // namespace tarpelix::gallery
