#pragma once

#include "platform/appkit/Color.h"
#include "platform/appkit/Font.h"
#include "platform/foundation/Geometry.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tarpelix::platform {

struct Image;
class GraphicsContext;

// The size and weight a symbol is drawn at; symbols draw in one colour.
struct SymbolConfiguration {
    double pointSize = 13;
    FontWeight weight = FontWeight::regular;
    bool prefersMonochrome = true;

    bool operator==(const SymbolConfiguration&) const = default;
};

// An image: a bitmap, or a vector drawing (symbols, the application icon) drawn afresh at
// any size. Copies share the pixels or the drawing; the flags and size are each copy's own.
class GraphicsImage {
public:
    // Draws the picture into `rect` in `color` (a template's colour; others may ignore it).
    using Drawing = std::function<void(GraphicsContext& context, const Rect& rect, const Color& color)>;

    // A bitmap; its size in points is its size in pixels unless given.
    static GraphicsImage bitmap(std::shared_ptr<const Image> image, std::optional<Size> size = std::nullopt);
    static GraphicsImage drawing(Size size, Drawing drawing, bool isTemplate);
    // A PNG of the main bundle's resources, "<name>.png"; none when missing or undecodable.
    static std::optional<GraphicsImage> named(const std::string& name);
    // One of our symbol drawings at the default configuration (13 points, regular); none for a
    // name we do not draw, or one a test withdrew.
    static std::optional<GraphicsImage> systemSymbol(const std::string& name,
                                                     std::optional<std::string> accessibilityDescription = {});
    // The application's icon, 512 × 512 points.
    static GraphicsImage applicationIcon();

    // A symbol at another configuration (its size follows the point size); other images are
    // returned unchanged.
    GraphicsImage withSymbolConfiguration(const SymbolConfiguration& configuration) const;

    Size size() const { return size_; }
    void setSize(Size size) { size_ = size; }
    bool isTemplate() const { return isTemplate_; }
    void setTemplate(bool isTemplate) { isTemplate_ = isTemplate; }
    const std::optional<std::string>& symbolName() const { return symbolName_; }
    const std::optional<SymbolConfiguration>& symbolConfiguration() const { return configuration_; }
    const std::optional<std::string>& accessibilityDescription() const { return accessibilityDescription_; }
    void setAccessibilityDescription(std::optional<std::string> description) {
        accessibilityDescription_ = std::move(description);
    }
    // The pixels of a bitmap image; null for a drawing.
    const std::shared_ptr<const Image>& bitmapImage() const { return bitmap_; }

    // Draws into `rect` (see GraphicsContext::drawImage).
    void draw(GraphicsContext& context, const Rect& rect, std::optional<Color> tint = std::nullopt) const;

private:
    GraphicsImage() = default;
    Size size_;
    bool isTemplate_ = false;
    std::shared_ptr<const Image> bitmap_;
    std::shared_ptr<const Drawing> drawing_;
    std::optional<std::string> symbolName_;
    std::optional<SymbolConfiguration> configuration_;
    std::optional<std::string> accessibilityDescription_;
};

} // namespace tarpelix::platform
