#include "platform/appkit/Menu.h"

#include "platform/appkit/Application.h"
#include "platform/appkit/Renderer.h"
#include "platform/appkit/TextLayout.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/foundation/MainThread.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tarpelix::platform {

namespace {

// The open menu's geometry, in points.
constexpr double verticalInset = 5;     // above the first row and below the last
constexpr double rowHeight = 22;
constexpr double separatorHeight = 11;
constexpr double cornerRadius = 7;
constexpr double leadingInset = 14;     // where titles start without a state column
constexpr double stateColumnWidth = 22; // added before titles with a state column
constexpr double trailingInset = 14;
constexpr double keyEquivalentGap = 28; // at least between a title and its key equivalent
constexpr double chevronWidth = 8;
constexpr double unansweredTrackingSeconds = 60;

Color menuBackgroundColor() {
    return Color::dynamic("menuBackgroundColor", [](const DrawingAppearance& a) {
        return a.appearance == Appearance::dark ? Color::rgb(0.16, 0.16, 0.17) : Color::rgb(0.96, 0.96, 0.96);
    });
}

// The menu being tracked, and how its tracking ended.
struct Tracking {
    Menu* menu = nullptr;
    std::shared_ptr<MenuItem> chosen;
    bool ended = false;
};
Tracking* tracking = nullptr;

AttributedString titleText(const MenuItem& item) {
    const Color color = item.isEnabled() ? Color::labelColor() : Color::tertiaryLabelColor();
    if (item.attributedTitle()) {
        AttributedString text = *item.attributedTitle();
        if (!item.isEnabled() && text.length() > 0) text.setForegroundColor(color, {0, text.length()});
        return text;
    }
    return AttributedString(item.title(), {.font = Menu::font(), .foregroundColor = color});
}

AttributedString keyEquivalentText(const MenuItem& item) {
    ParagraphStyle trailing;
    trailing.alignment = TextAlignment::right;
    return AttributedString(item.keyEquivalentGlyphs(),
                            {.font = Menu::font(),
                             .foregroundColor = item.isEnabled() ? Color::secondaryLabelColor() : Color::tertiaryLabelColor(),
                             .paragraphStyle = trailing});
}

// A checkmark or chevron: a line with round ends and corners.
void strokeRound(GraphicsContext& g, const Path& path, const Color& color, double width) {
    g.saveGState();
    g.setLineWidth(width);
    g.setLineCap(LineCap::round);
    g.setLineJoin(LineJoin::round);
    g.stroke(path, color);
    g.restoreGState();
}

// Text widths rounded up, with a point to spare so that the laid-out text stays in its box.
double widthOf(const AttributedString& text) { return std::ceil(TextLayout::size(text).width) + 1; }

// The first enabled, shown item with the title or identifier, in this menu or a submenu.
std::shared_ptr<MenuItem> findChoosable(const Menu& menu, const std::string& name) {
    for (const auto& item : menu.items()) {
        if (item->isHidden() || !item->isEnabled()) continue;
        if (!item->hasSubmenu() && (item->title() == name || (!item->identifier().empty() && item->identifier() == name))) {
            return item;
        }
        if (item->hasSubmenu()) {
            item->submenu()->update();
            if (auto found = findChoosable(*item->submenu(), name)) return found;
        }
    }
    return nullptr;
}

} // namespace

Menu::Menu(std::string title) : title_(std::move(title)) {}

Menu::~Menu() {
    for (const auto& item : items_) item->menu_ = nullptr;
}

// MARK: Items

void Menu::addItem(std::shared_ptr<MenuItem> item) { insertItem(std::move(item), items_.size()); }

std::shared_ptr<MenuItem> Menu::addItem(std::string title, std::string action, std::string keyEquivalent) {
    auto item = MenuItem::create(std::move(title), std::move(action), std::move(keyEquivalent));
    addItem(item);
    return item;
}

void Menu::insertItem(std::shared_ptr<MenuItem> item, std::size_t index) {
    if (!item) return;
    if (item->menu_) item->menu_->removeItem(*item);
    item->menu_ = this;
    items_.insert(items_.begin() + std::ptrdiff_t(std::min(index, items_.size())), std::move(item));
}

void Menu::removeItem(const MenuItem& item) {
    auto found = std::find_if(items_.begin(), items_.end(), [&](const auto& i) { return i.get() == &item; });
    if (found == items_.end()) return;
    (*found)->menu_ = nullptr;
    items_.erase(found);
}

void Menu::removeAllItems() {
    for (const auto& item : items_) item->menu_ = nullptr;
    items_.clear();
}

MenuItem* Menu::itemWithTitle(const std::string& title) const {
    for (const auto& item : items_) {
        if (!item->isSeparatorItem() && item->title() == title) return item.get();
    }
    return nullptr;
}

MenuItem* Menu::itemWithTag(int tag) const {
    for (const auto& item : items_) {
        if (item->tag() == tag) return item.get();
    }
    return nullptr;
}

MenuItem* Menu::itemWithIdentifier(const std::string& identifier) const {
    for (const auto& item : items_) {
        if (item->identifier() == identifier) return item.get();
    }
    return nullptr;
}

Menu* Menu::supermenu() const { return parentItem_ ? parentItem_->menu() : nullptr; }

// MARK: Actions and enabling

namespace {

// Who the item's action goes to now: its target when it has one (none once that is gone),
// else the first of the responder chain that answers.
ActionTarget* receiverOf(const MenuItem& item, std::shared_ptr<ActionTarget>& keepAlive) {
    if (item.action().empty()) return nullptr;
    if (item.hasTarget()) {
        keepAlive = item.target();
        if (!keepAlive) return nullptr;
        return Application::shared().targetForAction(item.action(), keepAlive.get());
    }
    return Application::shared().targetForAction(item.action());
}

} // namespace

bool Menu::isItemEnabledNow(const MenuItem& item) const {
    if (item.isSeparatorItem()) return false;
    if (!autoenablesItems_) return item.isEnabled();
    if (item.hasSubmenu()) return true;
    std::shared_ptr<ActionTarget> keepAlive;
    const ActionTarget* receiver = receiverOf(item, keepAlive);
    return receiver && receiver->validateMenuItem(item);
}

void Menu::update() {
    if (!autoenablesItems_) return;
    for (const auto& item : items_) item->setEnabled(isItemEnabledNow(*item));
}

bool Menu::sendAction(MenuItem& item) {
    std::shared_ptr<ActionTarget> keepAlive;
    ActionTarget* receiver = receiverOf(item, keepAlive);
    if (!receiver) return false;
    auto self = item.shared_from_this(); // the action may remove the item from its menu
    receiver->performAction(item.action(), &item);
    return true;
}

bool Menu::performKeyEquivalent(const KeyEvent& event) {
    requireMainThread("Menu::performKeyEquivalent");
    for (const auto& item : std::vector(items_)) {
        if (item->isHidden() || item->isSeparatorItem()) continue;
        if (item->hasSubmenu()) {
            if (item->submenu()->performKeyEquivalent(event)) return true;
            continue;
        }
        if (!item->matchesKeyEquivalent(event)) continue;
        item->setEnabled(isItemEnabledNow(*item));
        return item->isEnabled() && sendAction(*item);
    }
    return false;
}

// MARK: Opening

Menu* Menu::trackedMenu() { return tracking ? tracking->menu : nullptr; }

std::shared_ptr<MenuItem> Menu::popUp() {
    requireMainThread("Menu::popUp");
    if (tracking) return nullptr; // one menu is open at a time
    auto self = shared_from_this();
    if (auto* d = delegate()) d->menuWillOpen(*this);
    update();
    Tracking state{this, nullptr, false};
    tracking = &state;
    const bool answered =
        RunLoop::main()->runUntil([&state] { return state.ended; }, unansweredTrackingSeconds, RunLoopMode::eventTracking);
    tracking = nullptr;
    if (!answered) {
        std::fprintf(stderr, "Menu \"%s\" is open and nothing chose an item or dismissed it\n", title_.c_str());
        std::abort();
    }
    if (auto* d = delegate()) d->menuDidClose(*this);
    if (state.chosen) sendAction(*state.chosen);
    return state.chosen;
}

bool Menu::cancelTracking() {
    if (!isOpen() || tracking->ended) return false;
    tracking->ended = true;
    return true;
}

bool Menu::chooseTrackedItem(const std::string& titleOrIdentifier) {
    requireMainThread("Menu::chooseTrackedItem");
    if (!tracking || tracking->ended) return false;
    auto item = findChoosable(*tracking->menu, titleOrIdentifier);
    if (!item) return false;
    tracking->chosen = std::move(item);
    tracking->ended = true;
    return true;
}

// MARK: Drawing and reading

std::vector<std::pair<const MenuItem*, double>> Menu::rows() const {
    std::vector<std::pair<const MenuItem*, double>> rows;
    for (const auto& item : items_) {
        if (item->isHidden()) continue;
        rows.emplace_back(item.get(), item->isSeparatorItem() ? separatorHeight : rowHeight);
    }
    return rows;
}

Size Menu::size() const {
    double titles = 0, keys = 0, height = 2 * verticalInset;
    bool chevron = false;
    for (const auto& [item, h] : rows()) {
        height += h;
        if (item->isSeparatorItem()) continue;
        titles = std::max(titles, widthOf(titleText(*item)));
        if (!item->keyEquivalent().empty()) keys = std::max(keys, widthOf(keyEquivalentText(*item)));
        chevron = chevron || item->hasSubmenu();
    }
    double trailing = keys > 0 ? keyEquivalentGap + keys : 0;
    if (chevron) trailing = std::max(trailing, keyEquivalentGap + chevronWidth);
    const double leading = leadingInset + (showsStateColumn_ ? stateColumnWidth : 0);
    return {std::max(minimumWidth_, std::ceil(leading + titles + trailing + trailingInset)), height};
}

void Menu::draw(GraphicsContext& g) const {
    const Size panel = size();
    const Path outline = Path::roundedRect(Rect{0, 0, panel.width, panel.height}.insetBy(0.5, 0.5), cornerRadius, cornerRadius);
    g.fill(outline, menuBackgroundColor());
    g.setLineWidth(1);
    g.stroke(outline, Color::separatorColor());

    const double titleX = leadingInset + (showsStateColumn_ ? stateColumnWidth : 0);
    const double trailingX = panel.width - trailingInset;
    double top = panel.height - verticalInset;
    for (const auto& [item, h] : rows()) {
        const double mid = top - h / 2;
        top -= h;
        if (item->isSeparatorItem()) {
            g.fill(Path::rect({leadingInset - 4, std::floor(mid), panel.width - 2 * (leadingInset - 4), 1}),
                   Color::separatorColor());
            continue;
        }
        const Color ink = item->isEnabled() ? Color::labelColor() : Color::tertiaryLabelColor();
        const AttributedString title = titleText(*item);
        const double textHeight = TextLayout::size(title).height;
        g.drawText(title, {titleX, mid - textHeight / 2, widthOf(title), textHeight});
        if (showsStateColumn_ && item->state() != MenuItem::State::off) {
            Path mark;
            const double x = leadingInset + 2;
            if (item->state() == MenuItem::State::on) {
                mark.moveTo({x, mid});
                mark.lineTo({x + 3.5, mid - 4});
                mark.lineTo({x + 10, mid + 5});
            } else {
                mark.moveTo({x + 1, mid});
                mark.lineTo({x + 9, mid});
            }
            strokeRound(g, mark, ink, 1.8);
        }
        if (!item->keyEquivalent().empty()) {
            const AttributedString key = keyEquivalentText(*item);
            const double keyWidth = widthOf(key);
            g.drawText(key, {trailingX - keyWidth, mid - textHeight / 2, keyWidth, textHeight});
        } else if (item->hasSubmenu()) {
            Path chevron;
            chevron.moveTo({trailingX - chevronWidth + 2, mid + 5});
            chevron.lineTo({trailingX - 1, mid});
            chevron.lineTo({trailingX - chevronWidth + 2, mid - 5});
            strokeRound(g, chevron, ink, 1.6);
        }
    }
}

RecordingContext Menu::record() const {
    RecordingContext recording(size());
    draw(recording);
    return recording;
}

void Menu::writePNG(const std::filesystem::path& path) const { Renderer::writePNG(record(), path); }

std::vector<std::string> Menu::accessibilityLines() const {
    std::vector<std::string> lines;
    for (const auto& [item, h] : rows()) {
        const std::string title = item->attributedTitle() ? item->attributedTitle()->string() : item->title();
        if (item->isSeparatorItem() || title.empty()) continue;
        std::string line = title;
        if (item->state() == MenuItem::State::on) line += ", checked";
        if (item->state() == MenuItem::State::mixed) line += ", mixed";
        if (!item->keyEquivalent().empty()) line += ", " + item->keyEquivalentSpoken();
        if (item->hasSubmenu()) line += ", submenu";
        if (!item->isEnabled()) line += ", dimmed";
        lines.push_back(std::move(line));
    }
    return lines;
}

} // namespace tarpelix::platform
