#include "windows/PasteOverlayPlacement.h"

#include <algorithm>
#include <cmath>

namespace tarpelix {

using platform::Rect;

namespace {

bool isValid(const Rect& rect) {
    const double x = rect.origin.x, y = rect.origin.y, width = rect.size.width, height = rect.size.height;
    return std::isfinite(x) && std::isfinite(y) && std::isfinite(width) && std::isfinite(height) && width > 0 &&
           height > 0 && std::isfinite(x + width) && std::isfinite(y + height);
}

} // namespace

std::optional<PasteOverlayScreen> PasteOverlayPlacement::screen(const Rect& accessibilityFrame,
                                                                const std::vector<PasteOverlayScreen>& screens,
                                                                const Rect& primaryFrame) {
    if (!isValid(accessibilityFrame) || !isValid(primaryFrame)) return std::nullopt;
    // Accessibility measures y down from the primary display's top edge; screens measure it up
    // from its bottom edge.
    const Rect window{primaryFrame.minX() + accessibilityFrame.minX(), primaryFrame.maxY() - accessibilityFrame.maxY(),
                      accessibilityFrame.width(), accessibilityFrame.height()};
    if (!isValid(window)) return std::nullopt;

    std::vector<PasteOverlayScreen> byNumber = screens;
    std::ranges::stable_sort(byNumber, {}, &PasteOverlayScreen::id);
    std::optional<PasteOverlayScreen> best;
    double bestArea = 0;
    for (const auto& candidate : byNumber) {
        if (!isValid(candidate.frame)) continue;
        const Rect shared = window.intersection(candidate.frame);
        if (!isValid(shared)) continue;
        const double area = shared.width() * shared.height();
        // Strictly larger: on a tie the lower number, met first, keeps it.
        if (std::isfinite(area) && area > bestArea) {
            best = candidate;
            bestArea = area;
        }
    }
    return best;
}

std::optional<Rect> PasteOverlayPlacement::frame(const PasteOverlayScreen& screen, platform::Size size) {
    if (!isValid(screen.frame) || !isValid(screen.visibleFrame)) return std::nullopt;
    if (!std::isfinite(size.width) || !std::isfinite(size.height) || size.width <= 0 || size.height <= 0) {
        return std::nullopt;
    }
    const Rect usable = screen.visibleFrame.intersection(screen.frame);
    if (!isValid(usable)) return std::nullopt;
    const Rect inset = usable.insetBy(std::min(usable.width() * 0.25, 12.0), std::min(usable.height() * 0.25, 24.0));
    if (!isValid(inset)) return std::nullopt;
    const double width = std::min(inset.width(), size.width);
    const double height = std::min(inset.height(), size.height);
    return Rect{inset.midX() - width / 2, inset.minY(), width, height};
}

} // namespace tarpelix
