#include "platform/appkit/Renderer.h"

#include "platform/appkit/TextSystem.h"
#include "platform/foundation/Files.h"
#include "platform/foundation/MainThread.h"
#include "platform/imageio/ImageDestination.h"
#include "platform/imageio/ImageSource.h"

#include <cairo.h>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace tarpelix::platform {

namespace {

// How far a focus ring reaches outside its mask, in points.
constexpr double focusRingWidth = 3.5;

void addPath(cairo_t* cr, const Path& path) {
    cairo_new_path(cr);
    for (const auto& e : path.elements()) {
        switch (e.type) {
        case Path::ElementType::moveTo: cairo_move_to(cr, e.points[0].x, e.points[0].y); break;
        case Path::ElementType::lineTo: cairo_line_to(cr, e.points[0].x, e.points[0].y); break;
        case Path::ElementType::curveTo:
            cairo_curve_to(cr, e.points[0].x, e.points[0].y, e.points[1].x, e.points[1].y, e.points[2].x,
                           e.points[2].y);
            break;
        case Path::ElementType::closePath: cairo_close_path(cr); break;
        }
    }
}

void setColor(cairo_t* cr, const RGBA& c, double alpha) {
    cairo_set_source_rgba(cr, c.red, c.green, c.blue, c.alpha * alpha);
}

cairo_line_cap_t cap(LineCap c) {
    switch (c) {
    case LineCap::round: return CAIRO_LINE_CAP_ROUND;
    case LineCap::square: return CAIRO_LINE_CAP_SQUARE;
    default: return CAIRO_LINE_CAP_BUTT;
    }
}

cairo_line_join_t join(LineJoin j) {
    switch (j) {
    case LineJoin::round: return CAIRO_LINE_JOIN_ROUND;
    case LineJoin::bevel: return CAIRO_LINE_JOIN_BEVEL;
    default: return CAIRO_LINE_JOIN_MITER;
    }
}

// One 8-bit sample of a pixel, whatever the image's depth.
double sample(const std::uint8_t* pixel, int bits, int index) {
    if (bits == 16) {
        std::uint16_t value;
        std::memcpy(&value, pixel + 2 * index, 2);
        return value / 65535.0;
    }
    return pixel[index] / 255.0;
}

// The image as a premultiplied cairo surface; null when its pixels do not decode.
cairo_surface_t* surfaceFor(const Image& image) {
    const Bytes* bytes = image.pixels.get();
    if (!bytes || image.width == 0 || image.height == 0) return nullptr;
    const int bits = image.bitsPerComponent;
    const std::size_t pixelBytes = std::size_t(image.components) * std::size_t(bits / 8);
    if (bytes->size() < image.bytesPerRow * (image.height - 1) + pixelBytes * image.width) return nullptr;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, int(image.width), int(image.height));
    cairo_surface_flush(surface);
    unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const int colorComponents = image.hasAlpha ? image.components - 1 : image.components;
    for (std::size_t y = 0; y < image.height; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(data + std::ptrdiff_t(y) * stride);
        for (std::size_t x = 0; x < image.width; ++x) {
            const std::uint8_t* p = bytes->data() + y * image.bytesPerRow + x * pixelBytes;
            const double a = image.hasAlpha ? sample(p, bits, image.components - 1) : 1.0;
            const double r = sample(p, bits, 0);
            const double g = colorComponents >= 3 ? sample(p, bits, 1) : r;
            const double b = colorComponents >= 3 ? sample(p, bits, 2) : r;
            auto channel = [a](double v) { return std::uint32_t(std::lround(v * a * 255)); };
            row[x] = (std::uint32_t(std::lround(a * 255)) << 24) | (channel(r) << 16) | (channel(g) << 8) | channel(b);
        }
    }
    cairo_surface_mark_dirty(surface);
    return surface;
}

// Draws through a group when the alpha is below one, so overlapping parts do not add up.
template <class Draw> void withAlpha(cairo_t* cr, double alpha, Draw draw) {
    if (alpha >= 1) return draw();
    cairo_push_group(cr);
    draw();
    cairo_pop_group_to_source(cr);
    cairo_paint_with_alpha(cr, alpha);
}

class Replay {
public:
    explicit Replay(cairo_t* cr) : cr_(cr) {}

    void operator()(const drawing::Save&) {
        cairo_save(cr_);
        alphas_.push_back(alpha_);
    }
    void operator()(const drawing::Restore&) {
        if (alphas_.empty()) return;
        cairo_restore(cr_);
        alpha_ = alphas_.back();
        alphas_.pop_back();
    }
    void operator()(const drawing::Concatenate& op) {
        cairo_matrix_t m;
        const auto& t = op.transform;
        cairo_matrix_init(&m, t.a, t.b, t.c, t.d, t.tx, t.ty);
        cairo_transform(cr_, &m);
    }
    void operator()(const drawing::SetAlpha& op) { alpha_ = op.alpha; }
    void operator()(const drawing::Fill& op) {
        addPath(cr_, op.path);
        setColor(cr_, op.color, alpha_);
        cairo_fill(cr_);
    }
    void operator()(const drawing::Stroke& op) {
        addPath(cr_, op.path);
        setColor(cr_, op.color, alpha_);
        cairo_set_line_width(cr_, op.lineWidth);
        cairo_set_line_cap(cr_, cap(op.cap));
        cairo_set_line_join(cr_, join(op.join));
        cairo_stroke(cr_);
    }
    void operator()(const drawing::Clip& op) {
        addPath(cr_, op.path);
        cairo_clip(cr_);
    }
    void operator()(const drawing::LinearGradient& op) {
        // The gradient runs across the path's bounds along the angle, corner to corner.
        const Rect b = op.path.bounds();
        const double angle = op.angleDegrees * M_PI / 180;
        const double dx = std::cos(angle), dy = std::sin(angle);
        const double reach = std::abs(b.width() / 2 * dx) + std::abs(b.height() / 2 * dy);
        cairo_pattern_t* pattern = cairo_pattern_create_linear(b.midX() - dx * reach, b.midY() - dy * reach,
                                                               b.midX() + dx * reach, b.midY() + dy * reach);
        for (const auto& [location, c] : op.stops) {
            cairo_pattern_add_color_stop_rgba(pattern, location, c.red, c.green, c.blue, c.alpha * alpha_);
        }
        addPath(cr_, op.path);
        cairo_set_source(cr_, pattern);
        cairo_fill(cr_);
        cairo_pattern_destroy(pattern);
    }
    void operator()(const drawing::Text& op) {
        withAlpha(cr_, alpha_, [&] {
            cairo_save(cr_);
            cairo_translate(cr_, op.box.minX(), op.box.maxY());
            cairo_scale(cr_, 1, -1);
            typesetting::drawText(cr_, op.text, op.box.width());
            cairo_restore(cr_);
        });
    }
    void operator()(const drawing::Bitmap& op) {
        if (!op.image) return;
        cairo_surface_t* surface = surfaceFor(*op.image);
        if (!surface) return;
        cairo_save(cr_);
        cairo_translate(cr_, op.rect.minX(), op.rect.maxY());
        cairo_scale(cr_, op.rect.width() / double(op.image->width), -op.rect.height() / double(op.image->height));
        // Edge pixels are extended rather than faded into transparency, within the rectangle.
        cairo_rectangle(cr_, 0, 0, double(op.image->width), double(op.image->height));
        cairo_clip(cr_);
        cairo_pattern_t* pattern = cairo_pattern_create_for_surface(surface);
        cairo_pattern_set_filter(pattern, CAIRO_FILTER_GOOD);
        cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
        if (op.tint) {
            setColor(cr_, *op.tint, alpha_);
            cairo_mask(cr_, pattern);
        } else {
            cairo_set_source(cr_, pattern);
            cairo_paint_with_alpha(cr_, alpha_);
        }
        cairo_pattern_destroy(pattern);
        cairo_restore(cr_);
        cairo_surface_destroy(surface);
    }
    void operator()(const drawing::FocusRingMask& op) {
        // The ring lies outside the mask: stroke its outline, clipped to what the mask leaves.
        cairo_save(cr_);
        cairo_new_path(cr_);
        cairo_rectangle(cr_, -1e5, -1e5, 2e5, 2e5);
        for (const auto& line : op.path.flattened()) {
            if (line.points.empty()) continue;
            cairo_move_to(cr_, line.points[0].x, line.points[0].y);
            for (const Point& p : line.points) cairo_line_to(cr_, p.x, p.y);
            cairo_close_path(cr_);
        }
        cairo_set_fill_rule(cr_, CAIRO_FILL_RULE_EVEN_ODD);
        cairo_clip(cr_);
        addPath(cr_, op.path);
        setColor(cr_, op.color, alpha_);
        cairo_set_line_width(cr_, focusRingWidth * 2);
        cairo_set_line_join(cr_, CAIRO_LINE_JOIN_ROUND);
        cairo_stroke(cr_);
        cairo_restore(cr_);
    }

private:
    cairo_t* cr_;
    double alpha_ = 1;
    std::vector<double> alphas_;
};

} // namespace

std::shared_ptr<const Image> Renderer::render(const RecordingContext& recording, double scale) {
    requireMainThread("Renderer::render");
    const int width = std::max(1, int(std::ceil(recording.size().width * scale)));
    const int height = std::max(1, int(std::ceil(recording.size().height * scale)));
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    cairo_t* cr = cairo_create(surface);
    // Points with y up onto pixels with y down.
    cairo_translate(cr, 0, height);
    cairo_scale(cr, scale, -scale);
    Replay replay(cr);
    for (const auto& op : recording.operations()) std::visit(replay, op);
    cairo_destroy(cr);
    cairo_surface_flush(surface);

    auto image = std::make_shared<Image>();
    image->width = std::size_t(width);
    image->height = std::size_t(height);
    image->bitsPerComponent = 8;
    image->components = 4;
    image->hasAlpha = true;
    image->bytesPerRow = std::size_t(width) * 4;
    Bytes pixels(image->bytesPerRow * image->height);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(data + std::ptrdiff_t(y) * stride);
        std::uint8_t* out = pixels.data() + std::size_t(y) * image->bytesPerRow;
        for (int x = 0; x < width; ++x) {
            const std::uint32_t p = row[x];
            const std::uint32_t a = p >> 24;
            auto unpremultiply = [a](std::uint32_t v) {
                return std::uint8_t(a == 0 ? 0 : std::min<std::uint32_t>(255, (v * 255 + a / 2) / a));
            };
            out[4 * x] = unpremultiply((p >> 16) & 0xFF);
            out[4 * x + 1] = unpremultiply((p >> 8) & 0xFF);
            out[4 * x + 2] = unpremultiply(p & 0xFF);
            out[4 * x + 3] = std::uint8_t(a);
        }
    }
    cairo_surface_destroy(surface);
    image->pixels = std::move(pixels);
    return image;
}

std::optional<Bytes> Renderer::pngData(const std::shared_ptr<const Image>& image) {
    Bytes out;
    auto consumer = DataConsumer::create([&out](const std::uint8_t* bytes, std::size_t count) {
        out.insert(out.end(), bytes, bytes + count);
        return count;
    });
    auto destination = ImageDestination::createWithDataConsumer(consumer, ImageType::png, 1);
    if (!destination) return std::nullopt;
    destination->addImage(image);
    if (!destination->finalize()) return std::nullopt;
    return out;
}

void Renderer::writePNG(const RecordingContext& recording, const std::filesystem::path& path) {
    auto png = pngData(render(recording));
    if (!png) throw std::runtime_error("The drawing could not be encoded as PNG");
    files::replaceFileAtomically(path, png->data(), png->size(), 0644);
}

} // namespace tarpelix::platform
