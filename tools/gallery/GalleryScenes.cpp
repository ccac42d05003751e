#include "gallery/GalleryScenes.h"

#include "platform/appkit/GraphicsImage.h"
#include "platform/appkit/Symbols.h"
#include "platform/appkit/TextLayout.h"
#include "platform/appkit/View.h"
#include "platform/appkit/Window.h"

namespace tarpelix::gallery {

using namespace platform;

namespace {

constexpr double testWindowWidth = 480;
constexpr double testWindowHeight = 360;

// Draws the text at the top-left `origin` (y up) in a box as tall as the text needs at
// `width`, and returns the box's height.
double text(GraphicsContext& g, const AttributedString& string, Point topLeft, double width) {
    const double height = TextLayout::size(string, width).height;
    g.drawText(string, {topLeft.x, topLeft.y - height, width, height});
    return height;
}

AttributedString styled(const std::string& string, const Font& font, const Color& color,
                        ParagraphStyle style = {}) {
    return AttributedString(string, {.font = font, .foregroundColor = color, .paragraphStyle = style});
}

// Every toolkit font, one line each, top down from `top`.
void fonts(GraphicsContext& g, double x, double top, double width) {
    const std::pair<const char*, Font> samples[] = {
        {"Title 26 bold", Font::boldSystemFont(26)},
        {"Section 16 semibold", Font::systemFont(16, FontWeight::semibold)},
        {"Status 17 semibold", Font::systemFont(17, FontWeight::semibold)},
        {"Body 13 — ⌃V · ’quote’ …", Font::systemFont(13)},
        {"Reading 14 regular", Font::systemFont(14)},
        {"Caption 12 → secondary", Font::systemFont(12)},
        {"code 13: ~/.ssh/config", Font::monospacedSystemFont(13)},
        {"digits 13: 1,234,567.90", Font::monospacedDigitSystemFont(13, FontWeight::medium)},
    };
    double y = top;
    for (const auto& [sample, font] : samples) y -= text(g, styled(sample, font, Color::labelColor()), {x, y}, width);
}

// Wrapped, truncated and tabbed text, then the colour swatches.
void texts(GraphicsContext& g, double x, double top, double width) {
    const Font body = Font::systemFont(13);
    double y = top;
    y -= text(g,
              styled("Copy an image, press Control+V, and its path appears in your remote terminal’s input "
                     "line.",
                     body, Color::labelColor()),
              {x, y}, width) +
         6;
    ParagraphStyle truncating;
    truncating.lineBreakMode = LineBreakMode::byTruncatingTail;
    y -= text(g,
              styled("/home/developer/projects/tarpelix/uploads/2026-01-02/screenshot-of-the-build-log.png",
                     Font::monospacedSystemFont(12), Color::secondaryLabelColor(), truncating),
              {x, y}, width) +
         6;
    ParagraphStyle tabbed;
    tabbed.tabStops = {{TextAlignment::left, 88}};
    tabbed.paragraphSpacing = 4;
    AttributedString table = styled("Stage\tUploading…\nDestination\tme@build-host", body, Color::labelColor(), tabbed);
    for (const char* label : {"Stage", "Destination"}) {
        table.setForegroundColor(Color::secondaryLabelColor(), *table.rangeOf(label));
    }
    table.setFont(Font::monospacedSystemFont(13), *table.rangeOf("me@build-host"));
    y -= text(g, table, {x, y}, width) + 8;

    const Color swatches[] = {
        Color::labelColor(),          Color::secondaryLabelColor(),    Color::tertiaryLabelColor(),
        Color::quaternaryLabelColor(), Color::textColor(),             Color::textBackgroundColor(),
        Color::controlAccentColor(),  Color::controlBackgroundColor(), Color::windowBackgroundColor(),
        Color::underPageBackgroundColor(), Color::separatorColor(),    Color::keyboardFocusIndicatorColor(),
        Color::systemRed(),           Color::systemOrange(),           Color::systemYellow(),
        Color::systemGreen(),         Color::systemBlue(),             Color::systemGray(),
    };
    constexpr double side = 18, gap = 3;
    g.setLineWidth(1);
    for (std::size_t i = 0; i < std::size(swatches); ++i) {
        const double sx = x + double(i % 9) * (side + gap);
        const double sy = y - side - double(i / 9) * (side + gap);
        const Path swatch = Path::roundedRect(Rect{sx, sy, side, side}.insetBy(0.5, 0.5), 4, 4);
        g.fill(swatch, swatches[i]);
        g.stroke(swatch, Color::separatorColor());
    }
}

// Every symbol at 13, 17, 21 and 24 points: two rows of sixteen per size, top down.
void symbolGrid(GraphicsContext& g, double x, double top) {
    constexpr double pitch = 29;
    const auto& names = symbols::names();
    double y = top;
    for (double pointSize : {13.0, 17.0, 21.0, 24.0}) {
        for (std::size_t row = 0; row * 16 < names.size(); ++row) {
            double rowHeight = 0;
            for (std::size_t column = 0; column < 16 && row * 16 + column < names.size(); ++column) {
                auto symbol = GraphicsImage::systemSymbol(names[row * 16 + column]);
                if (!symbol) continue;
                const auto image = symbol->withSymbolConfiguration({pointSize, FontWeight::medium, true});
                const Size size = image.size();
                rowHeight = std::max(rowHeight, size.height);
                const double cx = x + double(column) * pitch + (pitch - size.width) / 2;
                g.drawImage(image, {cx, y - size.height, size.width, size.height}, Color::labelColor());
            }
            y -= rowHeight + 1;
        }
    }
}

void drawTestWindow(GraphicsContext& g, const std::string&) {
    g.fill(Path::rect({0, 0, testWindowWidth, testWindowHeight}), Color::windowBackgroundColor());
    const double top = testWindowHeight - 6;
    fonts(g, 10, top, 218);
    texts(g, 236, top, 236);
    symbolGrid(g, 8, 192);
}

// MARK: toolkit-core: a window of ours with a few plain views

constexpr double coreWidth = 420;
constexpr double coreHeight = 240; // content; the title bar comes on top

// Text set from the top of the view, wrapped at its width.
class TextView final : public View {
public:
    TextView(Rect frame, AttributedString text) : View(frame), text_(std::move(text)) {}
    void draw(GraphicsContext& g, const Rect&) override {
        const double height = TextLayout::size(text_, bounds().width()).height;
        g.drawText(text_, {0, bounds().height() - height, bounds().width(), height});
    }

private:
    AttributedString text_;
};

// A rounded panel in a fill colour with a faint border; it takes focus when asked to.
class BoxView final : public View {
public:
    BoxView(Rect frame, Color fill, bool focusable = false) : View(frame), fill_(std::move(fill)), focusable_(focusable) {}
    bool acceptsFirstResponder() const override { return focusable_; }
    void draw(GraphicsContext& g, const Rect&) override {
        const Path outline = Path::roundedRect(bounds().insetBy(0.5, 0.5), 8, 8);
        g.fill(outline, fill_);
        g.setLineWidth(1);
        g.stroke(outline, Color::separatorColor());
    }
    void drawFocusRingMask(GraphicsContext& g) const override {
        g.drawFocusRingMask(Path::roundedRect(bounds(), 8, 8));
    }

private:
    Color fill_;
    bool focusable_;
};

void drawToolkitCore(GraphicsContext& g, const std::string&) {
    auto window = Window::create({0, 0, coreWidth, coreHeight}, WindowStyle::titled | WindowStyle::closable);
    window->setTitle("Toolkit Core");
    auto& content = *window->contentView();
    const Font body = Font::systemFont(13);

    auto sidebar = std::make_shared<BoxView>(Rect{12, 12, 128, 216}, Color::underPageBackgroundColor());
    content.addSubview(sidebar);
    double y = 216 - 12;
    for (const char* item : {"General", "Permissions", "Diagnostics"}) {
        y -= 22;
        sidebar->addSubview(std::make_shared<TextView>(Rect{12, y, 104, 18}, styled(item, body, Color::labelColor())));
    }

    auto card = std::make_shared<BoxView>(Rect{152, 92, 256, 136}, Color::controlBackgroundColor());
    content.addSubview(card);
    card->addSubview(std::make_shared<TextView>(
        Rect{16, 100, 224, 22}, styled("Views and windows", Font::systemFont(16, FontWeight::semibold), Color::labelColor())));
    card->addSubview(std::make_shared<TextView>(
        Rect{16, 12, 224, 80},
        styled("A title bar of our own above a content view; frames, flipped views and a focus ring.", body,
               Color::secondaryLabelColor())));

    auto focused = std::make_shared<BoxView>(Rect{152, 12, 120, 64}, Color::controlAccentColor().withAlphaComponent(0.25), true);
    auto plain = std::make_shared<BoxView>(Rect{288, 12, 120, 64}, Color::controlBackgroundColor());
    content.addSubview(focused);
    content.addSubview(plain);
    focused->addSubview(std::make_shared<TextView>(Rect{10, 20, 100, 24}, styled("Focused", body, Color::labelColor())));
    plain->addSubview(std::make_shared<TextView>(Rect{10, 20, 100, 24}, styled("Plain", body, Color::labelColor())));

    window->makeKeyAndOrderFront();
    window->makeFirstResponder(focused.get());
    window->draw(g);
    window->orderOut();
}

} // namespace

const std::vector<Scene>& scenes() {
    static const std::vector<Scene> list = {
        {"test-window", {"light", "dark"}, {testWindowWidth, testWindowHeight}, drawTestWindow},
        {"toolkit-core", {"light", "dark"}, {coreWidth, coreHeight + Window::titleBarHeight}, drawToolkitCore},
    };
    return list;
}

DrawingAppearance appearance(const std::string& state) {
    return {state == "dark" ? Appearance::dark : Appearance::light, false};
}

RecordingContext record(const Scene& scene, const std::string& state) {
    DrawingAppearanceScope scope(appearance(state));
    RecordingContext recording(scene.size);
    scene.draw(recording, state);
    return recording;
}

std::string fileName(const Scene& scene, const std::string& state) { return scene.name + "-" + state + ".png"; }

} // namespace tarpelix::gallery
