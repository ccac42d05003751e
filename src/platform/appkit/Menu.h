#pragma once

#include "platform/appkit/Events.h"
#include "platform/appkit/Font.h"
#include "platform/appkit/MenuItem.h"
#include "platform/appkit/RecordingContext.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace tarpelix::platform {

class Menu;

// Told when a menu opens and closes; every call has a default that does nothing.
class MenuDelegate {
public:
    virtual ~MenuDelegate() = default;
    virtual void menuWillOpen(Menu&) {}
    virtual void menuDidClose(Menu&) {}
};

// A menu: items top to bottom. Auto-enabling menus enable each item whose action someone
// answers (its target, else the responder chain) and whose receiver validates it. An open
// menu runs the main run loop in the event-tracking mode until an item is chosen or the menu
// is dismissed; the chosen item's action is sent after the menu has closed. The main menu
// matches key equivalents the key window did not take. Main thread only.
class Menu final : public std::enable_shared_from_this<Menu> {
public:
    explicit Menu(std::string title = {});
    ~Menu();
    Menu(const Menu&) = delete;
    Menu& operator=(const Menu&) = delete;
    static std::shared_ptr<Menu> create(std::string title = {}) { return std::make_shared<Menu>(std::move(title)); }

    const std::string& title() const { return title_; }
    void setTitle(std::string title) { title_ = std::move(title); }

    // MARK: Items
    const std::vector<std::shared_ptr<MenuItem>>& items() const { return items_; }
    std::size_t numberOfItems() const { return items_.size(); }
    // Adds the item at the end (taking it from the menu it was in).
    void addItem(std::shared_ptr<MenuItem> item);
    std::shared_ptr<MenuItem> addItem(std::string title, std::string action = {}, std::string keyEquivalent = {});
    void insertItem(std::shared_ptr<MenuItem> item, std::size_t index);
    void removeItem(const MenuItem& item);
    void removeAllItems();
    // The first item with that title, tag or identifier; none when no item has it.
    MenuItem* itemWithTitle(const std::string& title) const;
    MenuItem* itemWithTag(int tag) const;
    MenuItem* itemWithIdentifier(const std::string& identifier) const;
    // The menu whose item has this menu as submenu; none for a top-level menu.
    Menu* supermenu() const;

    // MARK: Behaviour
    bool autoenablesItems() const { return autoenablesItems_; }
    void setAutoenablesItems(bool autoenables) { autoenablesItems_ = autoenables; }
    // Whether a column for checkmarks is kept at the leading edge.
    bool showsStateColumn() const { return showsStateColumn_; }
    void setShowsStateColumn(bool shows) { showsStateColumn_ = shows; }
    double minimumWidth() const { return minimumWidth_; }
    void setMinimumWidth(double width) { minimumWidth_ = width; }
    MenuDelegate* delegate() const { return delegate_.lock().get(); }
    void setDelegate(std::weak_ptr<MenuDelegate> delegate) { delegate_ = std::move(delegate); }

    // Enables or disables each item from the responder chain, when the menu auto-enables.
    void update();
    // Finds an enabled, shown item (also in submenus) whose key equivalent the key-down is,
    // and sends its action. False when none took it.
    bool performKeyEquivalent(const KeyEvent& event);
    // Sends the item's action to its target or up the responder chain; false when nobody
    // received it.
    static bool sendAction(MenuItem& item);

    // MARK: Opening
    // Opens the menu (below the status item or at the pointer): tells the delegate,
    // updates the items, and tracks the menu in the event-tracking mode until an item is
    // chosen or the menu is dismissed (chooseTrackedItem / cancelTracking, from a block or timer
    // that runs meanwhile). Then the menu closes, and the chosen item's action is sent. Returns
    // the chosen item. Nothing answering within a minute stops the process with a message.
    std::shared_ptr<MenuItem> popUp();
    bool isOpen() const { return trackedMenu() == this; }
    // Closes the open menu without choosing anything; false when it is not open.
    bool cancelTracking();
    // The menu being tracked now; none when no menu is open.
    static Menu* trackedMenu();
    // Chooses an enabled, shown item of the open menu (or of its submenus) by title or
    // identifier; false when no menu is open or it has no such item.
    static bool chooseTrackedItem(const std::string& titleOrIdentifier);

    // MARK: Drawing and reading
    // The font of the items.
    static Font font() { return Font::systemFont(13); }
    // The size the open menu takes on the screen.
    Size size() const;
    // Draws the open menu with its lower-left corner at the origin: a rounded panel, the
    // shown items (titles, checkmarks, key equivalents, submenu chevrons), separators;
    // disabled items greyed.
    void draw(GraphicsContext& context) const;
    RecordingContext record() const;
    void writePNG(const std::filesystem::path& path) const;
    // What a screen reader speaks for each shown item, top to bottom ("Close, Command+W").
    std::vector<std::string> accessibilityLines() const;

private:
    friend class MenuItem;
    // The shown items with their rows' heights, top to bottom.
    std::vector<std::pair<const MenuItem*, double>> rows() const;
    bool isItemEnabledNow(const MenuItem& item) const;

    std::string title_;
    std::vector<std::shared_ptr<MenuItem>> items_;
    MenuItem* parentItem_ = nullptr;
    bool autoenablesItems_ = true;
    bool showsStateColumn_ = true;
    double minimumWidth_ = 0;
    std::weak_ptr<MenuDelegate> delegate_;
};

} // namespace tarpelix::platform
