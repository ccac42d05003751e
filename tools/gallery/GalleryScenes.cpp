#include "gallery/GalleryScenes.h"

#include "platform/appkit/AboutPanel.h"
#include "platform/appkit/Alert.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Box.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/GraphicsImage.h"
#include "platform/appkit/ImageView.h"
#include "platform/appkit/Label.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/ProgressIndicator.h"
#include "platform/appkit/SavePanel.h"
#include "platform/appkit/ScrollView.h"
#include "platform/appkit/StackView.h"
#include "platform/appkit/StatusItem.h"
#include "platform/appkit/Switch.h"
#include "platform/appkit/Symbols.h"
#include "platform/appkit/TableView.h"
#include "platform/appkit/TextLayout.h"
#include "platform/appkit/TextView.h"
#include "platform/appkit/View.h"
#include "platform/appkit/ViewConstraint.h"
#include "platform/appkit/VisualEffectView.h"
#include "platform/appkit/Window.h"
#include "platform/desktop/SystemSettingsControl.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/desktop/Workspace.h"
#include "ui/InterfaceIcon.h"
#include "ui/InterfaceStyle.h"
#include "ui/PasteShortcutView.h"

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
    for (const auto& [sample, font] : samples)
        y -= text(g, styled(sample, font, Color::labelColor()), {x, y}, width);
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
    AttributedString table =
        styled("Stage\tUploading…\nDestination\tme@build-host", body, Color::labelColor(), tabbed);
    for (const char* label : {"Stage", "Destination"}) {
        table.setForegroundColor(Color::secondaryLabelColor(), *table.rangeOf(label));
    }
    table.setFont(Font::monospacedSystemFont(13), *table.rangeOf("me@build-host"));
    y -= text(g, table, {x, y}, width) + 8;

    const Color swatches[] = {
        Color::labelColor(),
        Color::secondaryLabelColor(),
        Color::tertiaryLabelColor(),
        Color::quaternaryLabelColor(),
        Color::textColor(),
        Color::textBackgroundColor(),
        Color::controlAccentColor(),
        Color::controlBackgroundColor(),
        Color::windowBackgroundColor(),
        Color::underPageBackgroundColor(),
        Color::separatorColor(),
        Color::keyboardFocusIndicatorColor(),
        Color::systemRed(),
        Color::systemOrange(),
        Color::systemYellow(),
        Color::systemGreen(),
        Color::systemBlue(),
        Color::systemGray(),
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

// MARK: toolkit: every control, list and text view in one window, in its states

constexpr double toolkitWidth = 1040;
constexpr double toolkitHeight = 474; // content; the title bar comes on top
constexpr double toolkitSidebarWidth = 170;

// Sets the view at its intrinsic size (or `size` where given) with its top-left corner at
// x, top (y up), adds it to `parent` and returns it.
template <typename V>
std::shared_ptr<V> put(View& parent, std::shared_ptr<V> view, double x, double top, Size size = {}) {
    const Size natural = view->intrinsicContentSize();
    const double width = size.width > 0 ? size.width : natural.width;
    const double height = size.height > 0 ? size.height : natural.height;
    view->setFrame({x, top - height, width, height});
    parent.addSubview(view);
    return view;
}

std::shared_ptr<Label> caption(const std::string& text) {
    auto label = Label::labelWithString(text);
    label->setFont(Font::systemFont(11));
    label->setTextColor(Color::secondaryLabelColor());
    return label;
}

// Buttons down the left column: push, default, emphasised, small, disabled, toggled, focused,
// check boxes, radio buttons and borderless ones with an image before the title.
std::shared_ptr<Button> buttonColumn(View& content, double x, double top) {
    double y = top;
    put(content, caption("Push buttons"), x, y);
    y -= 18;
    auto save = put(content, Button::withTitle("Save…", "save"), x, y);
    save->setKeyEquivalent("\r");
    auto cancel = put(content, Button::withTitle("Cancel", "cancel"), save->frame().maxX() + 8, y);
    cancel->setKeyEquivalent("\x1b");
    auto disabled = put(content, Button::withTitle("Disabled", "disabled"), cancel->frame().maxX() + 8, y);
    disabled->setEnabled(false);
    y -= 32;
    auto emphasized = put(content, Button::withTitle("Emphasized", "emphasized"), x, y);
    emphasized->setBezelColor(Color::controlAccentColor());
    auto on = Button::withTitle("Enable", "enable");
    on->setButtonType(ButtonType::pushOnPushOff);
    on->setImage(GraphicsImage::systemSymbol("power"));
    on->setState(ControlStateValue::on);
    put(content, on, emphasized->frame().maxX() + 8, y);
    auto small = Button::withTitle("Small", "small");
    small->setControlSize(ControlSize::small);
    put(content, small, on->frame().maxX() + 8, y - 2);
    y -= 32;
    auto focused = put(content, Button::withTitle("Focused", "focused"), x, y);
    auto help = Button::withTitle("Open Help…", "help");
    help->setImage(GraphicsImage::systemSymbol("questionmark.circle"));
    put(content, help, focused->frame().maxX() + 8, y);
    y -= 40;

    put(content, caption("Check boxes and radio buttons"), x, y);
    y -= 18;
    auto remember = put(content, Button::checkbox("Remember", "remember"), x, y);
    remember->setState(ControlStateValue::on);
    auto unchecked =
        put(content, Button::checkbox("Unchecked", "unchecked"), remember->frame().maxX() + 16, y);
    auto dimmed = put(content, Button::checkbox("Disabled", "dimmed"), unchecked->frame().maxX() + 16, y);
    dimmed->setEnabled(false);
    y -= 24;
    auto ghostty = put(content, Button::radioButton("Ghostty", "chooseTerminal"), x, y);
    auto iterm =
        put(content, Button::radioButton("iTerm2", "chooseTerminal"), ghostty->frame().maxX() + 16, y);
    put(content, Button::radioButton("Terminal", "chooseTerminal"), iterm->frame().maxX() + 16, y);
    ghostty->performClick();
    y -= 32;

    put(content, caption("Borderless"), x, y);
    y -= 18;
    auto disclosure = Button::withTitle("Keyboard troubleshooting", "toggleTroubleshooting");
    disclosure->setBordered(false);
    disclosure->setButtonType(ButtonType::onOff);
    disclosure->setFont(Font::systemFont(12));
    disclosure->setContentTintColor(Color::secondaryLabelColor());
    disclosure->setImage(GraphicsImage::systemSymbol("chevron.right")
                             ->withSymbolConfiguration({12, FontWeight::medium, true}));
    put(content, disclosure, x, y);
    auto later = Button::withTitle("Try later", "later");
    later->setBordered(false);
    later->setContentTintColor(Color::controlAccentColor());
    put(content, later, disclosure->frame().maxX() + 16, y);
    return focused;
}

// Switches, spinners, images, a separator, a box with a wrapping label, a truncated label and a
// sidebar material down the right column.
void otherColumn(View& content, double x, double top, double width) {
    double y = top;
    put(content, caption("Switches"), x, y);
    y -= 18;
    const std::pair<const char*, int> switches[] = {{"On", 1}, {"Off", 0}, {"Disabled", 2}};
    for (const auto& [title, kind] : switches) {
        auto toggle = put(content, Switch::create(), x, y);
        toggle->setAccessibilityLabel(title);
        toggle->setState(kind == 1 ? ControlStateValue::on : ControlStateValue::off);
        toggle->setEnabled(kind != 2);
        put(content, Label::labelWithString(title), toggle->frame().maxX() + 8, y - 1);
        y -= 24;
    }
    y -= 8;

    put(content, caption("Progress and images"), x, y);
    y -= 18;
    auto spinner = put(content, ProgressIndicator::create(), x, y);
    spinner->startAnimation();
    auto small = ProgressIndicator::create();
    small->setControlSize(ControlSize::small);
    put(content, small, x + 44, y - 8);
    auto tinted = put(content,
                      ImageView::withImage(GraphicsImage::systemSymbol("checkmark.circle")
                                               ->withSymbolConfiguration({21, FontWeight::medium, true})),
                      x + 76, y, {32, 32});
    tinted->setContentTintColor(Color::systemGreen());
    auto scaled = put(content, ImageView::withImage(GraphicsImage::applicationIcon()), x + 120, y, {32, 32});
    scaled->setAccessibilityLabel("Application icon");
    y -= 44;

    put(content, Box::separator(), x, y, {width, 1});
    y -= 12;
    // A card as tall as its two labels need at its width.
    auto wrapping = Label::wrappingLabelWithString("SSH must connect without password prompts. Use SSH keys "
                                                   "or an SSH agent, and connect once to confirm "
                                                   "the host.");
    wrapping->setFont(Font::systemFont(12));
    wrapping->setTextColor(Color::secondaryLabelColor());
    auto limited = Label::wrappingLabelWithString(
        "Two lines at most: the rest of this sentence is cut and ends in an ellipsis where it stops, however "
        "much more of it there is left to read. This third line is never shown.");
    limited->setMaximumNumberOfLines(2);
    limited->setFont(Font::systemFont(12));
    const double textWidth = width - 32;
    const double wrappingHeight = wrapping->heightForWidth(textWidth);
    const double limitedHeight = limited->heightForWidth(textWidth);
    const double cardHeight = 12 + wrappingHeight + 6 + limitedHeight + 12;
    auto card = Box::custom();
    card->setFillColor(Color::controlBackgroundColor());
    card->setCornerRadius(12);
    put(content, card, x, y, {width, cardHeight});
    put(*card, wrapping, 16, cardHeight - 12, {textWidth, wrappingHeight});
    put(*card, limited, 16, wrapping->frame().minY() - 6, {textWidth, limitedHeight});
    y -= cardHeight + 12;

    auto path =
        Label::labelWithString("/home/developer/projects/tarpelix/uploads/screenshot-of-the-build-log.png");
    path->setFont(Font::monospacedSystemFont(12));
    path->setLineBreakMode(LineBreakMode::byTruncatingTail);
    put(content, path, x, y, {width, path->intrinsicContentSize().height});
}

struct GallerySections final : TableViewDataSource, TableViewDelegate {
    std::vector<std::string> titles{"General", "Permissions", "Dashboard", "Storage", "Diagnostics", "Help"};
    int numberOfRows(TableView&) override { return int(titles.size()); }
    std::shared_ptr<View> viewFor(TableView&, const TableColumn*, int row) override {
        auto cell = TableCellView::create();
        auto label = Label::labelWithString(titles[std::size_t(row)]);
        label->setFont(Font::systemFont(14, FontWeight::medium));
        label->setFrame({12, 10, 120, label->intrinsicContentSize().height});
        cell->addSubview(label);
        cell->setTextField(label);
        return cell;
    }
};

// The settings sections as a source list in a sidebar material, one row selected; returns the
// table.
std::shared_ptr<platform::TableView>
sectionList(View& content, const std::shared_ptr<GallerySections>& sections, double width, double height) {
    auto sidebar = put(content, VisualEffectView::create(), 0, height, {width, height});
    sidebar->setMaterial(VisualEffectMaterial::sidebar);
    auto table = platform::TableView::create();
    table->addTableColumn({"section"});
    table->setStyle(TableViewStyle::sourceList);
    table->setRowHeight(38);
    table->setIntercellSpacing({0, 4});
    table->setDataSource(sections);
    table->setDelegate(sections);
    table->setAccessibilityLabel("Settings sections");
    auto list = put(*sidebar, ScrollView::create(), 8, height - 12, {width - 16, height - 24});
    list->setDrawsBackground(false);
    list->setDocumentView(table);
    table->reloadData();
    table->selectRowIndexes({3}, false);
    put(content, Box::separator(), width, height, {1, height});
    return table;
}

// A long text wrapped in a scroll view whose overlay scroller hides itself, all selected.
void readingText(View& content, double x, double top, Size size) {
    std::string details = "Outcome: Uploaded\nTerminal: Ghostty · ssh to build-host\n";
    for (int i = 1; i <= 14; ++i) {
        details +=
            "Stage " + std::to_string(i) + ": the image was checked, sent and its remote path typed.\n";
    }
    auto reading = platform::TextView::create();
    reading->setFont(Font::systemFont(13));
    reading->setString(details);
    reading->setDrawsBackground(false);
    auto scroll = put(content, ScrollView::create(), x, top, size);
    scroll->setHasVerticalScroller(true);
    scroll->setAutohidesScrollers(true);
    scroll->setDrawsBackground(false);
    scroll->setDocumentView(reading);
    reading->selectAll();
}

// An unwrapped report: bordered, legacy scrollers both ways, inset text.
void reportText(View& content, double x, double top, Size size) {
    std::string report;
    for (const char* line :
         {"tarpelix diagnostic report",
          "ssh -G build-host: hostname build.example.com port 22 "
          "controlmaster auto controlpath ~/.ssh/cm-%C",
          "pasteboard: public.png 1440×900", "upload: /tmp/tarpelix/2026-01-02/screenshot.png"}) {
        report += std::string(line) + "\n";
    }
    auto code = platform::TextView::create();
    code->setFont(Font::monospacedSystemFont(12));
    code->setTextContainerInset({10, 10});
    code->textContainer().setWidthTracksTextView(false);
    code->setString(report);
    auto scroll = put(content, ScrollView::create(), x, top, size);
    scroll->setScrollerStyle(ScrollerStyle::legacy);
    scroll->setBorderType(BorderType::bezelBorder);
    scroll->setHasVerticalScroller(true);
    scroll->setHasHorizontalScroller(true);
    scroll->setAutohidesScrollers(true);
    scroll->setDocumentView(code);
}

// A vertical stack of stages laid out by constraints; the hidden middle one takes no space.
void stagesStack(View& content, double x, double top) {
    put(content, caption("Stack view (one stage hidden)"), x, top);
    std::vector<std::shared_ptr<View>> stages;
    for (const char* title : {"Captured the image", "Converted to PNG", "Uploaded to build-host"}) {
        auto stage = Label::labelWithString(title);
        stage->setIdentifier(title);
        stages.push_back(stage);
    }
    stages[1]->setHidden(true);
    auto stack = StackView::create(stages);
    stack->setOrientation(LayoutAxis::vertical);
    stack->setAlignment(StackView::Alignment::leading);
    stack->setSpacing(6);
    stack->setTranslatesAutoresizingMaskIntoConstraints(false);
    content.addSubview(stack);
    ViewConstraint::activate({
        stack->leadingAnchor().constraintEqualTo(content.leadingAnchor(), x),
        stack->topAnchor().constraintEqualTo(content.topAnchor(), toolkitHeight - top + 18),
    });
}

void drawToolkit(GraphicsContext& g, const std::string& state) {
    // The desktop is pinned, its Increase Contrast following the state, while it is drawn.
    const PinnedDesktop pinned(state == "contrast");
    auto window =
        Window::create({0, 0, toolkitWidth, toolkitHeight}, WindowStyle::titled | WindowStyle::closable);
    window->setTitle("Toolkit");
    auto& content = *window->contentView();

    const auto sections = std::make_shared<GallerySections>();
    sectionList(content, sections, toolkitSidebarWidth, toolkitHeight);
    constexpr double left = toolkitSidebarWidth + 16, top = toolkitHeight - 16;
    constexpr double rowTop = 160, rowHeight = 144;
    auto focused = buttonColumn(content, left, top);
    put(content, Box::separator(), 530, top, {1, top - rowTop - 22});
    otherColumn(content, 546, top, toolkitWidth - 546 - 16);

    // The bottom row: a wrapped text, an unwrapped report and a stack view.
    put(content, Box::separator(), left, rowTop + 10, {toolkitWidth - left - 16, 1});
    readingText(content, left, rowTop, {310, rowHeight});
    reportText(content, left + 322, rowTop, {310, rowHeight});
    stagesStack(content, left + 648, rowTop);

    window->makeKeyAndOrderFront();
    window->makeFirstResponder(focused.get());
    drawWindow(g, *window);
    window->orderOut();
}

// MARK: toolkit-menus: the status item's menu, open below it

constexpr double menusWidth = 400;
constexpr double menusHeight = 290;

// A status menu as the application shows it, with a disabled status line, a hidden item,
// a checked item, a submenu and key equivalents.
std::shared_ptr<Menu> galleryStatusMenu() {
    auto menu = Menu::create("Tarpelix");
    menu->setAutoenablesItems(false);
    menu->addItem("Copy Last Uploaded Path", "copyPath:")->setEnabled(false);
    menu->addItem("Copy Last Image", "copyImage:");
    menu->addItem("Last Paste Status", "showLastPaste:");
    menu->addItem(MenuItem::separatorItem());
    menu->addItem("Accessibility permission required")->setEnabled(false);
    menu->addItem("Fix Permissions", "fixPermissions:")->setHidden(true);
    menu->addItem("Show Paste Overlay", "toggleOverlay:")->setState(MenuItem::State::on);
    menu->addItem("Recent Pastes")->setSubmenu(Menu::create("Recent Pastes"));
    menu->addItem("Settings", "showSettings:", ",");
    menu->addItem("Help", "showHelp:");
    menu->addItem("About Tarpelix", "showAbout:");
    menu->addItem(MenuItem::separatorItem());
    menu->addItem("Quit Tarpelix", "quit:", "q");
    return menu;
}

void drawToolkitMenus(GraphicsContext& g, const std::string&) {
    g.fill(Path::rect({0, 0, menusWidth, menusHeight}), Color::underPageBackgroundColor());
    const double barY = menusHeight - StatusBar::thickness;
    g.fill(Path::rect({0, barY, menusWidth, StatusBar::thickness}), Color::windowBackgroundColor());
    g.fill(Path::rect({0, barY, menusWidth, 1}), Color::separatorColor());

    // Two status items, trailing to leading: ours with its template image (its menu open),
    // and one that shows a title.
    auto titled = StatusBar::system().statusItem(variableStatusItemLength);
    titled->button().setTitle("TR");
    auto ours = StatusBar::system().statusItem(variableStatusItemLength);
    if (auto image = GraphicsImage::systemSymbol("doc.on.clipboard")) {
        auto icon = image->withSymbolConfiguration({15, FontWeight::medium, true});
        icon.setTemplate(true);
        ours->button().setImage(icon);
    }
    ours->button().setAccessibilityLabel("Tarpelix");
    ours->setMenu(galleryStatusMenu());
    const double oursX = menusWidth - 12 - ours->button().frame().width();
    const double titledX = oursX - 4 - titled->button().frame().width();
    for (const auto& [item, x] : {std::pair{ours, oursX}, std::pair{titled, titledX}}) {
        g.saveGState();
        g.translate(x, barY);
        if (item == ours) {
            const Rect b = item->button().bounds();
            g.fill(Path::roundedRect(b.insetBy(0, 2), 4, 4), Color::quaternaryLabelColor());
        }
        item->button().draw(g, item->button().bounds());
        g.restoreGState();
    }

    const Menu& menu = *ours->menu();
    const Size size = menu.size();
    g.saveGState();
    g.translate(std::min(oursX, menusWidth - 8 - size.width), barY - 3 - size.height);
    menu.draw(g);
    g.restoreGState();
}

// MARK: interface-toolkit: the shared look of the product's windows

constexpr double interfaceWidth = 920;
constexpr double interfaceHeight = 392; // content; the title bar comes on top

// Every icon at each of the six styles, two rows of sixteen per style, top down from `top`;
// returns the grid's right edge.
double iconGrid(View& content, double x, double top) {
    constexpr double labelWidth = 84, pitch = 28;
    const std::pair<const char*, InterfaceIconStyle> styles[] = {
        {"Inline", InterfaceIconStyle::inline_},
        {"Sidebar", InterfaceIconStyle::sidebar},
        {"Card", InterfaceIconStyle::card},
        {"Feedback", InterfaceIconStyle::feedback},
        {"Disclosure", InterfaceIconStyle::disclosure},
        {"Application", InterfaceIconStyle::application},
    };
    const auto& icons = allCases<InterfaceIcon>();
    double y = top;
    for (const auto& [name, style] : styles) {
        const double rowHeight = std::max(pointSize(style) + 4, 18.0);
        put(content, caption(name), x, y - (rowHeight - 14) / 2);
        for (std::size_t i = 0; i < icons.size(); ++i) {
            auto view = ImageView::withImage(image(icons[i], style, rawValue(icons[i])));
            view->setContentTintColor(Color::labelColor());
            const double row = double(i / 16);
            put(content, view, x + labelWidth + double(i % 16) * pitch, y - row * rowHeight,
                {pitch, rowHeight});
        }
        y -= 2 * rowHeight + 8;
    }
    return x + labelWidth + 16 * pitch;
}

void drawInterfaceToolkit(GraphicsContext& g, const std::string& state) {
    // The desktop is pinned, its Increase Contrast following the state, while it is drawn.
    const PinnedDesktop pinned(state == "contrast");
    auto window =
        Window::create({0, 0, interfaceWidth, interfaceHeight}, WindowStyle::titled | WindowStyle::closable);
    window->setTitle("Interface Toolkit");
    auto& content = *window->contentView();
    const double gridEnd = iconGrid(content, 16, interfaceHeight - 16);

    // The right column, laid out by constraints: labels with code terms, status icons,
    // emphasised buttons and a group card with the keycap.
    auto status = [](InterfaceIcon icon, const Color& color, const std::string& text) {
        auto view = std::make_shared<ImageView>();
        InterfaceStyle::statusIcon(*view, icon, color);
        auto row = StackView::create({view, InterfaceStyle::label(text, false, {})});
        row->setSpacing(InterfaceStyle::Spacing::related);
        return row;
    };
    auto install = Button::withTitle("Install");
    InterfaceStyle::emphasize(*install, true);
    auto later = Button::withTitle("Later");
    InterfaceStyle::emphasize(*later, false);
    auto buttons = StackView::create({install, later});
    // The shortcut at the end of a row, as a page's header shows it: the title takes the room left.
    auto shortcutTitle = Label::labelWithString("Shortcut");
    shortcutTitle->setContentHuggingPriority(LayoutPriority::defaultLow - 1, LayoutAxis::horizontal);
    auto shortcutRow = StackView::create({shortcutTitle, PasteShortcutView::create()});
    auto card = InterfaceStyle::group(
        "Paste an image",
        {InterfaceStyle::label("Copy an image, then press the shortcut in a terminal running ssh or mosh.",
                               false, {"ssh", "mosh"}),
         shortcutRow,
         InterfaceStyle::label("Hosts come from ~/.ssh/config; uploads go to ~/.cache/tarpelix on the host.",
                               true, {"~/.ssh/config", "~/.cache/tarpelix"})});
    auto column = StackView::create({
        InterfaceStyle::label("Run ssh -G build-host, then ssh build-host once to trust its key.", false,
                              {"ssh -G build-host", "ssh build-host"}),
        status(InterfaceIcon::success, Color::systemGreen(), "Uploaded and typed"),
        status(InterfaceIcon::warning, Color::systemOrange(), "Waiting for the terminal"),
        status(InterfaceIcon::attention, Color::systemRed(), "The upload failed"),
        buttons,
        card,
    });
    column->setOrientation(LayoutAxis::vertical);
    column->setAlignment(StackView::Alignment::leading);
    column->setSpacing(InterfaceStyle::Spacing::content);
    column->setTranslatesAutoresizingMaskIntoConstraints(false);
    content.addSubview(column);
    ViewConstraint::activate({
        column->leadingAnchor().constraintEqualTo(content.leadingAnchor(), gridEnd + 24),
        column->trailingAnchor().constraintEqualTo(content.trailingAnchor(), -16),
        column->topAnchor().constraintEqualTo(content.topAnchor(), 16),
        column->bottomAnchor().constraintLessThanOrEqualTo(content.bottomAnchor(), -16),
        card->widthAnchor().constraintEqualTo(column->widthAnchor()),
    });
    // The labels and the status rows (whose labels wrap) are as wide as the column.
    for (std::size_t i = 0; i < 4; ++i) {
        column->arrangedSubviews()[i]
            ->widthAnchor()
            .constraintEqualTo(column->widthAnchor())
            ->setActive(true);
    }

    window->makeKeyAndOrderFront();
    drawWindow(g, *window);
    window->orderOut();
}

// MARK: toolkit-sheets: an alert and a save panel, each shown as a sheet on its window

constexpr double sheetsWindowWidth = 480;
constexpr double sheetsWindowHeight = 300; // content; the title bar comes on top
constexpr double sheetsGap = 16;

// A plain document window behind a sheet: a heading and a line of text at the top.
std::shared_ptr<Window> sheetParentWindow(const std::string& title, const std::string& heading) {
    auto window = Window::create({0, 0, sheetsWindowWidth, sheetsWindowHeight},
                                 WindowStyle::titled | WindowStyle::closable | WindowStyle::miniaturizable);
    window->setTitle(title);
    auto& content = *window->contentView();
    auto label = Label::labelWithString(heading);
    label->setFont(Font::systemFont(13, FontWeight::semibold));
    put(content, label, 20, sheetsWindowHeight - 20);
    auto cancel = put(content, Button::withTitle("Cancel", "cancel"), 20, 40);
    put(content, Button::withTitle("Save…", "save"), cancel->frame().maxX() + 10, 40);
    return window;
}

void drawToolkitSheets(GraphicsContext& g, const std::string&) {
    const double height = sheetsWindowHeight + Window::titleBarHeight;
    g.fill(Path::rect({0, 0, 2 * sheetsWindowWidth + 3 * sheetsGap, height + 2 * sheetsGap}),
           Color::underPageBackgroundColor());

    auto history = sheetParentWindow("Paste History", "Recent pastes");
    history->makeKeyAndOrderFront();
    auto alert = Alert::create();
    alert->setMessageText("Clear History?");
    alert->setInformativeText(
        "This removes every recorded paste. Files already uploaded stay on the remote hosts.");
    alert->addButtonWithTitle("Cancel");
    alert->addButtonWithTitle("Clear");
    alert->beginSheetModal(*history, {});

    auto report = sheetParentWindow("Review Diagnostic Report", "Review this report before saving.");
    report->makeKeyAndOrderFront();
    auto panel = SavePanel::create();
    panel->setTitle("Save Diagnostic Report");
    panel->setNameFieldStringValue("Tarpelix-Diagnostic-Report.txt");
    panel->setAllowedContentTypes({ContentType::plainText});
    panel->setCanCreateDirectories(true);
    panel->setDirectoryURL("/home/developer/Documents");
    panel->beginSheetModal(*report, {});

    double x = sheetsGap;
    for (const auto& window : {history, report}) {
        g.saveGState();
        g.translate(x, sheetsGap);
        drawWindow(g, *window);
        g.restoreGState();
        x += sheetsWindowWidth + sheetsGap;
        if (auto* sheet = dynamic_cast<SheetPanel*>(window->attachedSheet()))
            sheet->finish(ModalResponses::cancel);
        window->orderOut();
    }
}

// MARK: about-panel: as the application shows it (the bundle's name, versions and icon), then
// shown again with credits and a copyright

constexpr double aboutGap = 20;
constexpr double aboutHeight = 280;

void drawAboutPanel(GraphicsContext& g, const std::string&) {
    g.fill(Path::rect({0, 0, 2 * AboutPanel::width + 3 * aboutGap, aboutHeight}),
           Color::underPageBackgroundColor());
    auto& application = Application::shared();
    const AboutPanelOptions withCredits{
        .credits = AttributedString("Pastes clipboard images into remote sessions."),
        .copyright = "© 2025 The Tarpelix developers",
    };
    std::vector<std::function<void()>> shows;
    for (const auto& options : {AboutPanelOptions{}, withCredits}) {
        shows.push_back([&application, options] { application.orderFrontStandardAboutPanel(options); });
    }
    drawAboutPanelsInARow(g, aboutHeight, aboutGap, shows);
}

} // namespace

const std::vector<Scene>& scenes() {
    static const std::vector<Scene> list = [] {
        std::vector<Scene> all = {
            {"test-window", {"light", "dark"}, {testWindowWidth, testWindowHeight}, drawTestWindow},
            {"toolkit",
             {"light", "dark", "contrast"},
             {toolkitWidth, toolkitHeight + Window::titleBarHeight},
             drawToolkit},
            {"toolkit-menus", {"light", "dark"}, {menusWidth, menusHeight}, drawToolkitMenus},
            {"toolkit-sheets",
             {"light", "dark"},
             {2 * sheetsWindowWidth + 3 * sheetsGap,
              sheetsWindowHeight + Window::titleBarHeight + 2 * sheetsGap},
             drawToolkitSheets},
            {"about-panel",
             {"light", "dark"},
             {2 * AboutPanel::width + 3 * aboutGap, aboutHeight},
             drawAboutPanel},
            {"interface-toolkit",
             {"light", "dark", "contrast"},
             {interfaceWidth, interfaceHeight + Window::titleBarHeight},
             drawInterfaceToolkit},
            pasteOverlayScene(),
            installWindowScene(),
            aboutTarpelixScene(),
            mainMenuScene(),
            updatesUnavailableAlertScene(),
            statusMenuScene(),
            lastPasteStatusScene(),
            lastPasteStatusMinimumScene(),
            reportWindowScene(),
            reportWindowMinimumScene(),
            reportWindowFailureScene(),
            settingsPermissionsWideScene(),
            settingsPermissionsNarrowScene(),
            settingsHelpWideScene(),
            settingsHelpNarrowScene(),
            settingsHelpExpandedWideScene(),
            settingsHelpExpandedNarrowScene(),
            dashboardWideScene(),
            dashboardNarrowScene(),
        };
        for (auto more : {settingsWindowScenes(), onboardingScenes()}) {
            all.insert(all.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
        }
        return all;
    }();
    return list;
}

void drawAboutPanelsInARow(GraphicsContext& g, double height, double gap,
                           const std::vector<std::function<void()>>& shows) {
    auto& application = Application::shared();
    double x = gap;
    for (const auto& show : shows) {
        show();
        Window& window = *application.aboutPanel()->window();
        window.layoutIfNeeded();
        g.saveGState();
        g.translate(x, height - gap - window.frame().height());
        drawWindow(g, window);
        g.restoreGState();
        x += AboutPanel::width + gap;
    }
    if (application.aboutPanel()) application.aboutPanel()->window()->orderOut();
}

DrawingAppearance appearance(const std::string& state) {
    const bool dark = state == "dark" || state.ends_with(darkSuffix);
    return {dark ? Appearance::dark : Appearance::light, state == "contrast"};
}

PinnedDesktop::PinnedDesktop(std::optional<bool> increaseContrast)
    : locale_(Workspace::localeIdentifier()), zone_(Workspace::timeZone()),
      contrast_(Workspace::accessibilityDisplayShouldIncreaseContrast()) {
    DesktopControl::setLocaleIdentifier("en_US");
    DesktopControl::setTimeZone(TimeZone{"UTC"});
    if (increaseContrast) DesktopControl::setIncreaseContrast(*increaseContrast);
}

PinnedDesktop::~PinnedDesktop() {
    DesktopControl::setIncreaseContrast(contrast_);
    DesktopControl::setLocaleIdentifier(locale_);
    DesktopControl::setTimeZone(zone_);
}

std::string withoutDarkSuffix(const std::string& state) {
    return state.ends_with(darkSuffix) ? state.substr(0, state.size() - darkSuffix.size()) : state;
}

std::vector<std::string> inLightAndDark(const std::vector<std::string>& states) {
    std::vector<std::string> both = states;
    for (const auto& state : states) both.push_back(state + darkSuffix);
    return both;
}

namespace {
const WindowInspector* currentInspector = nullptr;
}

void drawWindow(GraphicsContext& context, Window& window) {
    window.draw(context);
    if (currentInspector && *currentInspector) (*currentInspector)(window);
}

RecordingContext record(const Scene& scene, const std::string& state, const WindowInspector& inspect) {
    DrawingAppearanceScope scope(appearance(state));
    RecordingContext recording(scene.size);
    currentInspector = &inspect;
    struct Reset {
        ~Reset() { currentInspector = nullptr; }
    } reset;
    scene.draw(recording, state);
    return recording;
}

std::string fileName(const Scene& scene, const std::string& state) {
    return scene.name + "-" + state + ".png";
}

namespace {

std::string escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

} // namespace

std::string indexPage(const std::vector<IndexEntry>& entries) {
    std::vector<std::string> order; // scenes in their first appearance's order
    for (const auto& entry : entries) {
        if (std::find(order.begin(), order.end(), entry.scene) == order.end()) order.push_back(entry.scene);
    }
    std::string page = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                       "<title>Tarpelix window gallery</title><style>"
                       "body{font-family:sans-serif;margin:2em}figure{display:inline-block;margin:0 1em 1em 0;"
                       "vertical-align:top}img{border:1px solid #ccc;max-width:100%}"
                       ".finding{color:#b00020}</style></head><body>\n<h1>Tarpelix window gallery</h1>\n<ul>\n";
    for (const auto& name : order)
        page += "<li><a href=\"#" + escaped(name) + "\">" + escaped(name) + "</a></li>\n";
    page += "</ul>\n";
    for (const auto& name : order) {
        page += "<section id=\"" + escaped(name) + "\"><h2>" + escaped(name) + "</h2>\n";
        for (const auto& entry : entries) {
            if (entry.scene != name) continue;
            // The picture is drawn at 2×: shown at the window's size in points.
            page += "<figure><img src=\"" + escaped(entry.scene + "-" + entry.state + ".png") + "\" width=\"" +
                    std::to_string(static_cast<int>(entry.width)) + "\" alt=\"" + escaped(name) + ", " +
                    escaped(entry.state) + "\"><figcaption>" + escaped(entry.state);
            for (const auto& finding : entry.findings) page += "<div class=\"finding\">" + escaped(finding) + "</div>";
            page += "</figcaption></figure>\n";
        }
        page += "</section>\n";
    }
    return page + "</body></html>\n";
}

} // namespace tarpelix::gallery
