#include "platform/desktop/Workspace.h"
#include "platform/imageio/Image.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <system_error>

namespace tarpelix::platform {

namespace {

// The icons are drawn here, pixel by pixel, from a few filled shapes: a page with a folded
// corner, a folder with a tab, an application tile.

constexpr int iconSide = 64;

using Colour = std::array<std::uint8_t, 4>; // RGBA, not premultiplied

class Canvas {
public:
    Canvas() : bytes_(static_cast<std::size_t>(iconSide * iconSide * 4), 0) {}

    // Fills the pixels whose centres lie inside the shape; `inside(x, y)` gets pixel centres,
    // y from the top.
    template <typename Shape> void fill(const Colour& colour, Shape inside) {
        for (int y = 0; y < iconSide; ++y) {
            for (int x = 0; x < iconSide; ++x) {
                if (!inside(x + 0.5, y + 0.5)) continue;
                auto* pixel = &bytes_[static_cast<std::size_t>((y * iconSide + x) * 4)];
                std::copy(colour.begin(), colour.end(), pixel);
            }
        }
    }

    void fillRect(const Colour& colour, double left, double top, double right, double bottom,
                  double radius = 0) {
        fill(colour, [=](double x, double y) {
            if (x < left || x > right || y < top || y > bottom) return false;
            // Outside a rounded corner: farther than the radius from the corner's centre.
            const double cx = std::clamp(x, left + radius, right - radius);
            const double cy = std::clamp(y, top + radius, bottom - radius);
            return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius;
        });
    }

    std::shared_ptr<const Image> image() && {
        auto image = std::make_shared<Image>();
        image->width = iconSide;
        image->height = iconSide;
        image->bytesPerRow = iconSide * 4;
        image->pixels = Pixels(std::move(bytes_));
        return image;
    }

private:
    Bytes bytes_;
};

std::shared_ptr<const Image> documentIcon() {
    Canvas canvas;
    const Colour border{150, 150, 150, 255};
    const Colour page{255, 255, 255, 255};
    const double left = 12, top = 4, right = 52, bottom = 60, fold = 12;
    auto onPage = [=](double inset) {
        return [=](double x, double y) {
            return x >= left + inset && x <= right - inset && y >= top + inset && y <= bottom - inset &&
                   (x - (right - fold)) - (y - top) <= -inset * 1.5; // below the fold's diagonal
        };
    };
    canvas.fill(border, onPage(0));
    canvas.fill(page, onPage(1));
    canvas.fill(border, [=](double x, double y) { // the folded corner
        return x >= right - fold && x <= right && y >= top && y <= top + fold &&
               (x - (right - fold)) >= (y - top);
    });
    for (double line = 24; line <= 48; line += 6)
        canvas.fillRect({190, 190, 190, 255}, 18, line, 46, line + 2);
    return std::move(canvas).image();
}

std::shared_ptr<const Image> folderIcon() {
    Canvas canvas;
    canvas.fillRect({52, 132, 210, 255}, 4, 10, 28, 22, 3);  // tab
    canvas.fillRect({52, 132, 210, 255}, 4, 14, 60, 56, 4);  // back
    canvas.fillRect({105, 178, 240, 255}, 4, 22, 60, 56, 4); // front
    return std::move(canvas).image();
}

std::shared_ptr<const Image> applicationIcon() {
    Canvas canvas;
    canvas.fillRect({70, 70, 80, 255}, 4, 4, 60, 60, 12);
    canvas.fillRect({240, 240, 245, 255}, 16, 16, 48, 48, 4);
    canvas.fillRect({70, 70, 80, 255}, 30, 16, 34, 48);
    canvas.fillRect({70, 70, 80, 255}, 16, 30, 48, 34);
    return std::move(canvas).image();
}

bool isApplication(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    const std::string suffix = ".app";
    return path.size() > suffix.size() && path.ends_with(suffix) &&
           path[path.size() - suffix.size() - 1] != '/';
}

} // namespace

std::shared_ptr<const Image> Workspace::icon(const std::string& path) {
    static const auto application = applicationIcon();
    static const auto folder = folderIcon();
    static const auto document = documentIcon();
    if (isApplication(path)) return application;
    std::error_code error;
    if (!path.empty() && std::filesystem::is_directory(path, error)) return folder;
    return document;
}

} // namespace tarpelix::platform
