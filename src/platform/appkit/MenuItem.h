#pragma once

#include "platform/appkit/Actions.h"
#include "platform/appkit/AttributedString.h"
#include "platform/appkit/Events.h"

#include <any>
#include <memory>
#include <optional>
#include <string>

namespace tarpelix::platform {

class Menu;

// One item of a menu: a title (or a separator line) that sends its action, to its target or up
// the responder chain, when chosen or when its key equivalent is pressed. Main thread only.
class MenuItem final : public ActionSender, public std::enable_shared_from_this<MenuItem> {
public:
    enum class State { off, on, mixed };

    explicit MenuItem(std::string title = {}, std::string action = {}, std::string keyEquivalent = {});
    ~MenuItem() override;
    MenuItem(const MenuItem&) = delete;
    MenuItem& operator=(const MenuItem&) = delete;
    static std::shared_ptr<MenuItem> create(std::string title, std::string action = {},
                                            std::string keyEquivalent = {}) {
        return std::make_shared<MenuItem>(std::move(title), std::move(action), std::move(keyEquivalent));
    }
    // A line between groups of items; never enabled, never chosen.
    static std::shared_ptr<MenuItem> separatorItem();
    bool isSeparatorItem() const { return separator_; }

    const std::string& title() const { return title_; }
    void setTitle(std::string title) { title_ = std::move(title); }
    // Drawn instead of the title when set.
    const std::optional<AttributedString>& attributedTitle() const { return attributedTitle_; }
    void setAttributedTitle(std::optional<AttributedString> title) { attributedTitle_ = std::move(title); }

    // MARK: Action and target
    // Empty: no action.
    const std::string& action() const { return action_; }
    void setAction(std::string action) { action_ = std::move(action); }
    // The target is held weakly; without one the action goes up the responder chain. An item
    // whose target is gone sends nothing.
    std::shared_ptr<ActionTarget> target() const { return target_.lock(); }
    bool hasTarget() const { return hasTarget_; }
    void setTarget(const std::shared_ptr<ActionTarget>& target) {
        target_ = target;
        hasTarget_ = target != nullptr;
    }

    // MARK: Key equivalent
    // A character ("w", ","; an upper-case letter also asks for Shift) pressed with the mask's
    // modifiers (Command by default). Empty: none.
    const std::string& keyEquivalent() const { return keyEquivalent_; }
    void setKeyEquivalent(std::string key) { keyEquivalent_ = std::move(key); }
    EventFlags keyEquivalentModifierMask() const { return modifierMask_; }
    void setKeyEquivalentModifierMask(EventFlags mask) { modifierMask_ = mask; }
    // Whether a key-down is this item's key equivalent (device-independent flags compared).
    bool matchesKeyEquivalent(const KeyEvent& event) const;
    // The key equivalent as the menu shows it ("⌘W") and as a screen reader speaks it
    // ("Command+W"); empty without one.
    std::string keyEquivalentGlyphs() const;
    std::string keyEquivalentSpoken() const;

    // MARK: Appearance and state
    bool isHidden() const { return hidden_; }
    void setHidden(bool hidden) { hidden_ = hidden; }
    // Hidden, or in a submenu whose item is hidden.
    bool isHiddenOrHasHiddenAncestor() const;
    // An auto-enabling menu sets this from the responder chain when it updates.
    bool isEnabled() const { return enabled_ && !separator_; }
    void setEnabled(bool enabled) { enabled_ = enabled; }
    State state() const { return state_; }
    void setState(State state) { state_ = state; }

    const std::string& identifier() const { return identifier_; }
    void setIdentifier(std::string identifier) { identifier_ = std::move(identifier); }
    int tag() const { return tag_; }
    void setTag(int tag) { tag_ = tag; }
    const std::any& representedObject() const { return representedObject_; }
    void setRepresentedObject(std::any object) { representedObject_ = std::move(object); }

    // MARK: Menus
    const std::shared_ptr<Menu>& submenu() const { return submenu_; }
    bool hasSubmenu() const { return submenu_ != nullptr; }
    void setSubmenu(std::shared_ptr<Menu> submenu);
    // The menu holding the item; none outside a menu.
    Menu* menu() const { return menu_; }

private:
    friend class Menu;
    std::string title_;
    std::optional<AttributedString> attributedTitle_;
    std::string action_;
    std::weak_ptr<ActionTarget> target_;
    bool hasTarget_ = false;
    std::string keyEquivalent_;
    EventFlags modifierMask_ = EventFlag::command;
    bool separator_ = false;
    bool hidden_ = false;
    bool enabled_ = true;
    State state_ = State::off;
    std::string identifier_;
    int tag_ = 0;
    std::any representedObject_;
    std::shared_ptr<Menu> submenu_;
    Menu* menu_ = nullptr;
};

} // namespace tarpelix::platform
