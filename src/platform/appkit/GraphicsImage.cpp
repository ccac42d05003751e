#include "platform/appkit/GraphicsImage.h"

#include "platform/appkit/AppKitState.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/appkit/Symbols.h"
#include "platform/foundation/Bundle.h"
#include "platform/imageio/ImageSource.h"

#include <fstream>
#include <iterator>

namespace tarpelix::platform {

namespace {

// The line width of a symbol's pen, in design units, for each weight.
double symbolLineWidth(FontWeight weight) {
    static constexpr double widths[] = {0.9, 1.1, 1.4, 1.7, 1.9, 2.1, 2.4, 2.7, 3.0};
    return widths[static_cast<int>(weight)];
}

// A symbol image is 1.2 times its point size square: the room a symbol of that size takes
// beside text of the same size.
Size symbolSize(double pointSize) { return {pointSize * 1.2, pointSize * 1.2}; }

GraphicsImage::Drawing symbolDrawing(symbols::Drawing draw, FontWeight weight) {
    return [draw, weight](GraphicsContext& context, const Rect& rect, const Color& color) {
        context.saveGState();
        context.translate(rect.minX(), rect.minY());
        context.scale(rect.width() / symbols::designSize, rect.height() / symbols::designSize);
        draw(context, {color, symbolLineWidth(weight)});
        context.restoreGState();
    };
}

// The application icon: a picture rising out of a terminal window, on a blue tile.
void drawApplicationIcon(GraphicsContext& g, const Rect& rect, const Color&) {
    g.saveGState();
    g.translate(rect.minX(), rect.minY());
    g.scale(rect.width() / 512, rect.height() / 512);
    const Path tile = Path::roundedRect({24, 24, 464, 464}, 104, 104);
    g.drawLinearGradient(tile, {{0, Color::rgb(0.10, 0.36, 0.80)}, {1, Color::rgb(0.16, 0.70, 0.86)}}, 60);
    // The terminal window.
    g.fill(Path::roundedRect({84, 84, 344, 236}, 28, 28), Color::rgb(0.07, 0.09, 0.13));
    g.setLineWidth(18);
    g.setLineCap(LineCap::round);
    g.setLineJoin(LineJoin::round);
    Path prompt;
    prompt.moveTo({128, 244});
    prompt.lineTo({172, 208});
    prompt.lineTo({128, 172});
    g.stroke(prompt, Color::rgb(0.55, 0.92, 0.62));
    g.stroke(Path::line({196, 160}, {268, 160}), Color::rgb(0.85, 0.88, 0.92));
    // The picture, lifted above the window's top edge.
    const Rect photo{246, 214, 190, 150};
    g.fill(Path::roundedRect(photo, 20, 20), Color::whiteColor());
    Path hills;
    hills.moveTo({270, 238});
    hills.lineTo({320, 300});
    hills.lineTo({352, 266});
    hills.lineTo({376, 290});
    hills.lineTo({412, 238});
    hills.close();
    g.fill(hills, Color::rgb(0.16, 0.62, 0.86));
    g.fill(Path::oval({372, 316, 28, 28}), Color::rgb(0.98, 0.74, 0.16));
    // The arrow of the upload.
    g.setLineWidth(22);
    g.stroke(Path::line({340, 390}, {340, 452}), Color::whiteColor());
    Path head;
    head.moveTo({306, 420});
    head.lineTo({340, 456});
    head.lineTo({374, 420});
    g.stroke(head, Color::whiteColor());
    g.restoreGState();
}

} // namespace

GraphicsImage GraphicsImage::bitmap(std::shared_ptr<const Image> image, std::optional<Size> size) {
    GraphicsImage result;
    result.size_ = size ? *size : (image ? Size{double(image->width), double(image->height)} : Size{});
    result.bitmap_ = std::move(image);
    return result;
}

GraphicsImage GraphicsImage::drawing(Size size, Drawing drawing, bool isTemplate) {
    GraphicsImage result;
    result.size_ = size;
    result.drawing_ = std::make_shared<const Drawing>(std::move(drawing));
    result.isTemplate_ = isTemplate;
    return result;
}

std::optional<GraphicsImage> GraphicsImage::named(const std::string& name) {
    auto path = Bundle::urlForResource(name, "png");
    if (!path) return std::nullopt;
    std::ifstream file(*path, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    auto source = ImageSource::create(bytes);
    if (!source || source->type() != ImageType::png) return std::nullopt;
    auto image = source->createImageAtIndex(0);
    if (!image || !image->pixels.get()) return std::nullopt;
    return bitmap(std::move(image));
}

std::optional<GraphicsImage> GraphicsImage::systemSymbol(const std::string& name,
                                                         std::optional<std::string> accessibilityDescription) {
    if (!symbols::drawing(name) || appkitstate::isSymbolWithdrawn(name)) return std::nullopt;
    GraphicsImage image;
    image.symbolName_ = name;
    image.accessibilityDescription_ = std::move(accessibilityDescription);
    return image.withSymbolConfiguration({});
}

GraphicsImage GraphicsImage::withSymbolConfiguration(const SymbolConfiguration& configuration) const {
    if (!symbolName_) return *this;
    GraphicsImage image = *this;
    image.configuration_ = configuration;
    image.size_ = symbolSize(configuration.pointSize);
    image.isTemplate_ = true;
    image.drawing_ = std::make_shared<const Drawing>(
        symbolDrawing(symbols::drawing(*symbolName_), configuration.weight));
    return image;
}

GraphicsImage GraphicsImage::applicationIcon() {
    GraphicsImage image = drawing({512, 512}, drawApplicationIcon, false);
    image.accessibilityDescription_ = "Tarpelix";
    return image;
}

void GraphicsImage::draw(GraphicsContext& context, const Rect& rect, std::optional<Color> tint) const {
    if (drawing_) {
        (*drawing_)(context, rect, isTemplate_ ? tint.value_or(Color::black()) : Color::black());
    } else if (bitmap_) {
        context.drawBitmap(bitmap_, rect, isTemplate_ ? std::optional(tint.value_or(Color::black())) : std::nullopt);
    }
}

void GraphicsContext::drawImage(const GraphicsImage& image, const Rect& rect, std::optional<Color> tint) {
    image.draw(*this, rect, std::move(tint));
}

} // namespace tarpelix::platform
