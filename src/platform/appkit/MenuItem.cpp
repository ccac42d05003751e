#include "platform/appkit/MenuItem.h"

#include "platform/appkit/Menu.h"

#include <array>

namespace tarpelix::platform {

namespace {

// The modifiers key equivalents compare, in the order menus show them.
struct Modifier {
    EventFlags flag;
    const char* glyph;
    const char* name;
};
constexpr std::array<Modifier, 4> modifiers{{
    {EventFlag::control, "⌃", "Control"},
    {EventFlag::alternate, "⌥", "Option"},
    {EventFlag::shift, "⇧", "Shift"},
    {EventFlag::command, "⌘", "Command"},
}};
constexpr EventFlags comparedModifiers = EventFlag::control | EventFlag::alternate | EventFlag::shift | EventFlag::command;

bool isUpperLetter(const std::string& key) { return key.size() == 1 && key[0] >= 'A' && key[0] <= 'Z'; }

std::string lowered(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    }
    return text;
}

// The keys that have a name or glyph of their own.
struct NamedKey {
    const char* key;
    const char* glyph;
    const char* name;
};
constexpr std::array<NamedKey, 5> namedKeys{{
    {"\r", "↩", "Return"},
    {"\x1b", "⎋", "Escape"},
    {"\t", "⇥", "Tab"},
    {" ", "Space", "Space"},
    {"\x7f", "⌫", "Delete"},
}};

// The modifiers then the key, as glyphs ("⌃⌘W") or spoken ("Control+Command+W").
std::string describeKeyEquivalent(const std::string& key, EventFlags mask, bool spoken) {
    if (key.empty()) return {};
    if (isUpperLetter(key)) mask |= EventFlag::shift;
    std::string text;
    for (const auto& modifier : modifiers) {
        if (mask & modifier.flag) text += spoken ? std::string(modifier.name) + "+" : modifier.glyph;
    }
    for (const auto& named : namedKeys) {
        if (key == named.key) return text + (spoken ? named.name : named.glyph);
    }
    if (key.size() == 1 && key[0] >= 'a' && key[0] <= 'z') return text + char(key[0] - 'a' + 'A');
    return text + key;
}

} // namespace

MenuItem::MenuItem(std::string title, std::string action, std::string keyEquivalent)
    : title_(std::move(title)), action_(std::move(action)), keyEquivalent_(std::move(keyEquivalent)) {}

MenuItem::~MenuItem() {
    if (submenu_) submenu_->parentItem_ = nullptr;
}

std::shared_ptr<MenuItem> MenuItem::separatorItem() {
    auto item = std::make_shared<MenuItem>();
    item->separator_ = true;
    item->enabled_ = false;
    return item;
}

bool MenuItem::isHiddenOrHasHiddenAncestor() const {
    for (const MenuItem* item = this; item; item = item->menu_ ? item->menu_->parentItem_ : nullptr) {
        if (item->hidden_) return true;
    }
    return false;
}

void MenuItem::setSubmenu(std::shared_ptr<Menu> submenu) {
    if (submenu_) submenu_->parentItem_ = nullptr;
    submenu_ = std::move(submenu);
    if (submenu_) submenu_->parentItem_ = this;
}

// MARK: Key equivalents

bool MenuItem::matchesKeyEquivalent(const KeyEvent& event) const {
    if (keyEquivalent_.empty() || separator_ || event.type != EventType::keyDown) return false;
    EventFlags required = modifierMask_ & comparedModifiers;
    std::string key = keyEquivalent_;
    if (isUpperLetter(key)) {
        required |= EventFlag::shift;
        key = lowered(key);
    }
    return (event.modifierFlags & comparedModifiers) == required && lowered(event.charactersIgnoringModifiers) == key;
}

std::string MenuItem::keyEquivalentGlyphs() const { return describeKeyEquivalent(keyEquivalent_, modifierMask_, false); }

std::string MenuItem::keyEquivalentSpoken() const { return describeKeyEquivalent(keyEquivalent_, modifierMask_, true); }

} // namespace tarpelix::platform
