#include "platform/desktop/SimulatedTerminal.h"

#include "platform/desktop/AccessibilityControl.h"
#include "platform/desktop/AppleEventsControl.h"
#include "platform/desktop/GhosttyControl.h"
#include "platform/desktop/ITerm2Control.h"
#include "platform/desktop/TerminalAppControl.h"
#include "platform/desktop/WorkspaceControl.h"
#include "platform/foundation/Uuid.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>

namespace tarpelix::platform {

namespace {

constexpr int noSuchObject = -1728;
constexpr int cannotCoerce = -1700;
constexpr int notHandled = -1708;

struct Profile {
    const std::string& bundleIdentifier;
    const char* name;
    const char* contentAttribute;
    const char* contentValue;
};

const Profile& profileOf(SimulatedTerminal::Kind kind) {
    static const Profile ghostty{GhosttyControl::bundleIdentifier, "Ghostty", "AXHelp", "Terminal content area"};
    static const Profile iTerm2{ITerm2Control::bundleIdentifier, "iTerm2", "AXDescription", "shell"};
    static const Profile terminalApp{TerminalAppControl::bundleIdentifier, "Terminal", "AXDescription", "shell"};
    switch (kind) {
    case SimulatedTerminal::Kind::ghostty:
        return ghostty;
    case SimulatedTerminal::Kind::iTerm2:
        return iTerm2;
    case SimulatedTerminal::Kind::terminalApp:
        break;
    }
    return terminalApp;
}

std::string textArgument(const std::vector<AppleEventDescriptor>& arguments, std::size_t index) {
    auto value = index < arguments.size() ? arguments[index].stringValue() : std::nullopt;
    if (!value) throw ScriptError(cannotCoerce, "Can\u2019t make the parameter into type text.");
    return *value;
}

int integerArgument(const std::string& text) {
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        throw ScriptError(cannotCoerce, "Can\u2019t make \u201c" + text + "\u201d into type integer.");
    }
    return value;
}

} // namespace

struct SimulatedTerminal::Pane {
    std::string handle;
    std::string uniqueID; // the terminal or session identifier of Ghostty and iTerm2
    std::shared_ptr<PseudoTerminalSession> session;
    std::uint64_t node = 0;
};

struct SimulatedTerminal::Tab {
    std::string uniqueID; // Ghostty's tab identifier; the others name tabs by position
    std::vector<std::string> panes;
    std::string focusedPane;
};

struct SimulatedTerminal::Window {
    std::string uniqueID;
    int number = 0;
    std::uint64_t node = 0;
    std::vector<std::unique_ptr<Tab>> tabs;
    std::size_t selectedTab = 0;
    std::uint64_t searchFieldNode = 0;

    Tab* selected() const { return tabs.empty() ? nullptr : tabs[selectedTab].get(); }
};

// MARK: Launch and quit

SimulatedTerminal::SimulatedTerminal(Kind kind, pid_t pid) : kind_(kind), pid_(pid) {}

std::shared_ptr<SimulatedTerminal> SimulatedTerminal::launch(Kind kind, bool activate) {
    const auto& profile = profileOf(kind);
    auto holder = std::make_shared<std::weak_ptr<SimulatedTerminal>>();
    pid_t pid = WorkspaceControl::launchApplication({
        .bundleIdentifier = profile.bundleIdentifier,
        .localizedName = profile.name,
        .activate = activate,
        .receiveEvent =
            [holder](const EventRef& event) {
                if (auto terminal = holder->lock()) terminal->receiveEvent(event);
            },
    });
    auto terminal = std::make_shared<SimulatedTerminal>(kind, pid);
    *holder = terminal;
    AppleEventsControl::setScriptableApplication(pid, terminal);
    AccessibilityControl::setAttribute(pid, applicationNode, "AXRole", std::string("AXApplication"));
    AccessibilityControl::setAttribute(pid, applicationNode, "AXTitle", std::string(profile.name));
    AccessibilityControl::setAttribute(pid, applicationNode, "AXFocusedUIElement", AXNoValue{});
    AccessibilityControl::setAttribute(pid, applicationNode, "AXFocusedWindow", AXNoValue{});
    return terminal;
}

SimulatedTerminal::~SimulatedTerminal() { quit(); }

const std::string& SimulatedTerminal::bundleIdentifier() const { return profileOf(kind_).bundleIdentifier; }

void SimulatedTerminal::quit() {
    std::map<std::string, std::shared_ptr<Pane>> panes;
    {
        std::lock_guard lock(mutex_);
        if (quit_) return;
        quit_ = true;
        panes.swap(panes_);
        windows_.clear();
        focus_ = FocusKind::none;
    }
    for (auto& [handle, pane] : panes) pane->session->stop();
    AccessibilityControl::removeApplication(pid_);
    WorkspaceControl::quitApplication(pid_);
}

// MARK: Layout

SimulatedTerminal::Window& SimulatedTerminal::newWindowLocked(const std::string& subrole) {
    auto window = std::make_unique<Window>();
    window->number = nextWindowNumber_++;
    window->uniqueID = kind_ == Kind::ghostty ? Uuid::random().uuidString() : std::to_string(window->number);
    window->node = AccessibilityControl::createElement(pid_);
    double offset = 24.0 * static_cast<double>(windows_.size());
    AccessibilityControl::setAttribute(pid_, window->node, "AXRole", std::string("AXWindow"));
    AccessibilityControl::setAttribute(pid_, window->node, "AXSubrole", subrole);
    AccessibilityControl::setAttribute(pid_, window->node, "AXPosition", AXPoint{80 + offset, 60 + offset});
    AccessibilityControl::setAttribute(pid_, window->node, "AXSize", AXSize{960, 640});
    windows_.insert(windows_.begin(), std::move(window));
    return *windows_.front();
}

std::string SimulatedTerminal::addPaneLocked(Window& window, Tab& tab, Program program) {
    if (program.empty()) program = {"/bin/sh"};
    auto pane = std::make_shared<Pane>();
    pane->handle = "pane-" + std::to_string(nextPane_++);
    pane->uniqueID = Uuid::random().uuidString();
    pane->session = std::make_shared<PseudoTerminalSession>(PseudoTerminalSession::Options{std::move(program), {}, {}});
    pane->node = AccessibilityControl::createElement(pid_);
    const auto& profile = profileOf(kind_);
    AccessibilityControl::setAttribute(pid_, pane->node, "AXRole", std::string("AXTextArea"));
    AccessibilityControl::setAttribute(pid_, pane->node, profile.contentAttribute, std::string(profile.contentValue));
    AccessibilityControl::setAttribute(pid_, pane->node, "AXWindow", AXElementLink{window.node});
    tab.panes.push_back(pane->handle);
    tab.focusedPane = pane->handle;
    panes_[pane->handle] = pane;
    return pane->handle;
}

std::string SimulatedTerminal::openWindow(Program program) {
    std::lock_guard lock(mutex_);
    auto& window = newWindowLocked("AXStandardWindow");
    window.tabs.push_back(std::make_unique<Tab>());
    window.tabs.back()->uniqueID = Uuid::random().uuidString();
    auto handle = addPaneLocked(window, *window.tabs.back(), std::move(program));
    focusLocked(FocusKind::pane, handle);
    return handle;
}

std::string SimulatedTerminal::openTab(const std::string& pane, Program program) {
    std::lock_guard lock(mutex_);
    auto* window = windowOfLocked(pane);
    window->tabs.push_back(std::make_unique<Tab>());
    window->tabs.back()->uniqueID = Uuid::random().uuidString();
    auto handle = addPaneLocked(*window, *window->tabs.back(), std::move(program));
    focusLocked(FocusKind::pane, handle);
    return handle;
}

std::string SimulatedTerminal::splitPane(const std::string& pane, Program program) {
    if (kind_ == Kind::terminalApp) throw std::logic_error("Terminal has no split panes");
    std::lock_guard lock(mutex_);
    Tab* tab = nullptr;
    auto* window = windowOfLocked(pane, &tab);
    auto handle = addPaneLocked(*window, *tab, std::move(program));
    focusLocked(FocusKind::pane, handle);
    return handle;
}

void SimulatedTerminal::focusPane(const std::string& pane) {
    std::lock_guard lock(mutex_);
    focusLocked(FocusKind::pane, pane);
}

void SimulatedTerminal::focusSearchField() {
    std::lock_guard lock(mutex_);
    if (windows_.empty()) throw std::logic_error("no window");
    auto& window = *windows_.front();
    if (window.searchFieldNode == 0) {
        window.searchFieldNode = AccessibilityControl::createElement(pid_);
        AccessibilityControl::setAttribute(pid_, window.searchFieldNode, "AXRole", std::string("AXTextField"));
        AccessibilityControl::setAttribute(pid_, window.searchFieldNode, "AXDescription", std::string("search"));
        AccessibilityControl::setAttribute(pid_, window.searchFieldNode, "AXWindow", AXElementLink{window.node});
    }
    focusLocked(FocusKind::searchField, {});
}

void SimulatedTerminal::showDialog() {
    std::lock_guard lock(mutex_);
    if (dialogWindowNode_ == 0) {
        // A dialog whose text field reads like terminal content: only its window tells it apart.
        const auto& profile = profileOf(kind_);
        dialogWindowNode_ = AccessibilityControl::createElement(pid_);
        AccessibilityControl::setAttribute(pid_, dialogWindowNode_, "AXRole", std::string("AXWindow"));
        AccessibilityControl::setAttribute(pid_, dialogWindowNode_, "AXSubrole", std::string("AXDialog"));
        dialogFieldNode_ = AccessibilityControl::createElement(pid_);
        AccessibilityControl::setAttribute(pid_, dialogFieldNode_, "AXRole", std::string("AXTextArea"));
        AccessibilityControl::setAttribute(pid_, dialogFieldNode_, profile.contentAttribute,
                                           std::string(profile.contentValue));
        AccessibilityControl::setAttribute(pid_, dialogFieldNode_, "AXWindow", AXElementLink{dialogWindowNode_});
    }
    focusLocked(FocusKind::dialog, {});
}

void SimulatedTerminal::focusLocked(FocusKind kind, const std::string& pane) {
    if (kind == FocusKind::pane) {
        Tab* tab = nullptr;
        auto* window = windowOfLocked(pane, &tab);
        auto position = std::find_if(windows_.begin(), windows_.end(),
                                     [&](const auto& each) { return each.get() == window; });
        std::rotate(windows_.begin(), position, position + 1); // to the front
        for (std::size_t i = 0; i < window->tabs.size(); ++i) {
            if (window->tabs[i].get() == tab) window->selectedTab = i;
        }
        tab->focusedPane = pane;
    }
    focus_ = kind;
    publishFocusLocked();
}

// Sets the application's focus attributes and tells observers what changed.
void SimulatedTerminal::publishFocusLocked() {
    std::uint64_t focused = 0;
    std::uint64_t window = 0;
    if (focus_ == FocusKind::dialog) {
        focused = dialogFieldNode_;
        window = dialogWindowNode_;
    } else if (!windows_.empty()) {
        auto& front = *windows_.front();
        window = front.node;
        if (focus_ == FocusKind::searchField) {
            focused = front.searchFieldNode;
        } else if (focus_ == FocusKind::pane && front.selected()) {
            focused = panes_.at(front.selected()->focusedPane)->node;
        }
    }
    AccessibilityControl::setAttribute(pid_, applicationNode, "AXFocusedUIElement",
                                       focused ? AXStoredValue(AXElementLink{focused}) : AXStoredValue(AXNoValue{}));
    AccessibilityControl::setAttribute(pid_, applicationNode, "AXFocusedWindow",
                                       window ? AXStoredValue(AXElementLink{window}) : AXStoredValue(AXNoValue{}));
    if (window != publishedWindow_) {
        publishedWindow_ = window;
        AccessibilityControl::postNotification(pid_, applicationNode, "AXFocusedWindowChanged");
    }
    if (focused != publishedFocus_) {
        publishedFocus_ = focused;
        AccessibilityControl::postNotification(pid_, applicationNode, "AXFocusedUIElementChanged");
    }
}

void SimulatedTerminal::closePane(const std::string& pane) {
    std::shared_ptr<Pane> closed;
    {
        std::lock_guard lock(mutex_);
        Tab* tab = nullptr;
        auto* window = windowOfLocked(pane, &tab);
        closed = panes_.at(pane);
        panes_.erase(pane);
        AccessibilityControl::removeElement(pid_, closed->node);
        std::erase(tab->panes, pane);
        if (!tab->panes.empty()) {
            if (tab->focusedPane == pane) tab->focusedPane = tab->panes.back();
        } else {
            std::erase_if(window->tabs, [&](const auto& each) { return each.get() == tab; });
            window->selectedTab = window->tabs.empty() ? 0 : std::min(window->selectedTab, window->tabs.size() - 1);
            if (window->tabs.empty()) {
                AccessibilityControl::removeElement(pid_, window->node);
                if (window->searchFieldNode) AccessibilityControl::removeElement(pid_, window->searchFieldNode);
                std::erase_if(windows_, [&](const auto& each) { return each.get() == window; });
            }
        }
        if (windows_.empty() && focus_ != FocusKind::dialog) focus_ = FocusKind::none;
        publishFocusLocked();
    }
    closed->session->stop();
}

void SimulatedTerminal::restartPane(const std::string& pane, Program program) {
    if (program.empty()) program = {"/bin/sh"};
    auto session = std::make_shared<PseudoTerminalSession>(PseudoTerminalSession::Options{std::move(program), {}, {}});
    {
        std::lock_guard lock(mutex_);
        std::swap(paneLocked(pane).session, session);
    }
    session->stop(); // the old one
}

// MARK: Reading panes

SimulatedTerminal::Pane& SimulatedTerminal::paneLocked(const std::string& handle) const {
    auto found = panes_.find(handle);
    if (found == panes_.end()) throw std::out_of_range("no pane " + handle);
    return *found->second;
}

SimulatedTerminal::Window* SimulatedTerminal::windowOfLocked(const std::string& pane, Tab** tabOut) const {
    for (const auto& window : windows_) {
        for (const auto& tab : window->tabs) {
            if (std::find(tab->panes.begin(), tab->panes.end(), pane) != tab->panes.end()) {
                if (tabOut) *tabOut = tab.get();
                return window.get();
            }
        }
    }
    throw std::out_of_range("no pane " + pane);
}

SimulatedTerminal::PaneIdentifiers SimulatedTerminal::pane(const std::string& handle) const {
    std::lock_guard lock(mutex_);
    Tab* tab = nullptr;
    auto* window = windowOfLocked(handle, &tab);
    const auto& pane = paneLocked(handle);
    std::size_t tabIndex = 1;
    while (window->tabs[tabIndex - 1].get() != tab) ++tabIndex;
    const std::string& tty = pane.session->tty();
    switch (kind_) {
    case Kind::ghostty:
        return {window->uniqueID, tab->uniqueID, pane.uniqueID, tty};
    case Kind::iTerm2:
        return {window->uniqueID, std::to_string(tabIndex), pane.uniqueID, tty};
    case Kind::terminalApp:
        break;
    }
    return {window->uniqueID, std::to_string(tabIndex), tty, tty};
}

AXUIElementRef SimulatedTerminal::paneElement(const std::string& pane) const {
    return std::make_shared<AXUIElement>(pid_, paneNode(pane));
}

std::uint64_t SimulatedTerminal::paneNode(const std::string& pane) const {
    std::lock_guard lock(mutex_);
    return paneLocked(pane).node;
}

std::uint64_t SimulatedTerminal::windowNode(const std::string& pane) const {
    std::lock_guard lock(mutex_);
    return windowOfLocked(pane)->node;
}

void SimulatedTerminal::moveWindow(const std::string& pane, AXPoint position, AXSize size) {
    std::lock_guard lock(mutex_);
    const auto node = windowOfLocked(pane)->node;
    AccessibilityControl::setAttribute(pid_, node, "AXPosition", position);
    AccessibilityControl::setAttribute(pid_, node, "AXSize", size);
}

std::string SimulatedTerminal::output(const std::string& pane) const {
    std::shared_ptr<PseudoTerminalSession> session;
    {
        std::lock_guard lock(mutex_);
        session = paneLocked(pane).session;
    }
    return session->output();
}

bool SimulatedTerminal::waitForOutput(const std::string& pane, const std::string& text, double timeoutSeconds) const {
    std::shared_ptr<PseudoTerminalSession> session;
    {
        std::lock_guard lock(mutex_);
        session = paneLocked(pane).session;
    }
    return session->waitForOutput(text, timeoutSeconds);
}

void SimulatedTerminal::type(const std::string& pane, const std::string& text) {
    std::shared_ptr<PseudoTerminalSession> session;
    {
        std::lock_guard lock(mutex_);
        session = paneLocked(pane).session;
    }
    session->write(text);
}

// MARK: Keyboard

std::shared_ptr<PseudoTerminalSession> SimulatedTerminal::focusedSessionLocked() const {
    if (focus_ != FocusKind::pane || windows_.empty() || !windows_.front()->selected()) return nullptr;
    return panes_.at(windows_.front()->selected()->focusedPane)->session;
}

void SimulatedTerminal::receiveEvent(const EventRef& event) {
    if (event->type() != EventType::keyDown || event->unicodeString().empty()) return;
    std::shared_ptr<PseudoTerminalSession> session;
    {
        std::lock_guard lock(mutex_);
        session = focusedSessionLocked();
    }
    if (session) session->write(event->unicodeStringUTF8());
}

// MARK: Script handlers

AppleEventDescriptor SimulatedTerminal::captureTargetLocked() const {
    if (windows_.empty() || !windows_.front()->selected()) throw ScriptError(noSuchObject, "Can\u2019t get front window.");
    const auto& window = *windows_.front();
    const auto& tab = *window.selected();
    const auto& pane = *panes_.at(tab.focusedPane);
    auto reply = AppleEventDescriptor::list();
    auto tabIndex = static_cast<std::int32_t>(window.selectedTab + 1);
    switch (kind_) {
    case Kind::ghostty:
        reply.insertDescriptor(AppleEventDescriptor::text(window.uniqueID), 0);
        reply.insertDescriptor(AppleEventDescriptor::text(tab.uniqueID), 0);
        reply.insertDescriptor(AppleEventDescriptor::text(pane.uniqueID), 0);
        break;
    case Kind::iTerm2:
        reply.insertDescriptor(AppleEventDescriptor::integer(window.number), 0);
        reply.insertDescriptor(AppleEventDescriptor::integer(tabIndex), 0);
        reply.insertDescriptor(AppleEventDescriptor::text(pane.uniqueID), 0);
        break;
    case Kind::terminalApp:
        reply.insertDescriptor(AppleEventDescriptor::integer(window.number), 0);
        reply.insertDescriptor(AppleEventDescriptor::integer(tabIndex), 0);
        reply.insertDescriptor(AppleEventDescriptor::text(pane.session->tty()), 0);
        break;
    }
    reply.insertDescriptor(AppleEventDescriptor::text(pane.session->tty()), 0);
    return reply;
}

// The pane "inserttext" addresses: Ghostty's the focused terminal of the given tab, which
// must still be the given terminal; iTerm2's the session of that identifier in the tab at
// that position. Its TTY must be the given one.
std::shared_ptr<PseudoTerminalSession>
SimulatedTerminal::insertionSessionLocked(const std::vector<std::string>& arguments) const {
    const Window* window = nullptr;
    for (const auto& each : windows_) {
        if (kind_ == Kind::ghostty ? each->uniqueID == arguments[0] : each->number == integerArgument(arguments[0])) {
            window = each.get();
        }
    }
    if (!window) throw ScriptError(noSuchObject, "Can\u2019t get window id " + arguments[0] + ".");
    const Pane* pane = nullptr;
    if (kind_ == Kind::ghostty) {
        auto tab = std::find_if(window->tabs.begin(), window->tabs.end(),
                                [&](const auto& each) { return each->uniqueID == arguments[1]; });
        if (tab == window->tabs.end()) throw ScriptError(noSuchObject, "Can\u2019t get tab id " + arguments[1] + ".");
        pane = panes_.at((*tab)->focusedPane).get();
        if (pane->uniqueID != arguments[2]) pane = nullptr;
    } else {
        int index = integerArgument(arguments[1]);
        if (index < 1 || static_cast<std::size_t>(index) > window->tabs.size()) {
            throw ScriptError(noSuchObject, "Can\u2019t get tab " + arguments[1] + ".");
        }
        for (const auto& handle : window->tabs[static_cast<std::size_t>(index - 1)]->panes) {
            if (panes_.at(handle)->uniqueID == arguments[2]) pane = panes_.at(handle).get();
        }
    }
    if (!pane || pane->session->tty() != arguments[3]) {
        throw ScriptError(noSuchObject, "Can\u2019t get terminal id " + arguments[2] + ".");
    }
    return pane->session;
}

AppleEventDescriptor SimulatedTerminal::handleScriptCall(const std::string& handler,
                                                         const std::vector<AppleEventDescriptor>& arguments) {
    if (handler == "capturetarget") {
        std::lock_guard lock(mutex_);
        return captureTargetLocked();
    }
    if (handler == "inserttext" && kind_ != Kind::terminalApp) {
        std::vector<std::string> texts;
        for (std::size_t i = 0; i < 5; ++i) texts.push_back(textArgument(arguments, i));
        std::shared_ptr<PseudoTerminalSession> session;
        {
            std::lock_guard lock(mutex_);
            session = insertionSessionLocked(texts);
        }
        if (!session->write(texts[4])) throw ScriptError(noSuchObject, "The terminal has closed.");
        return {};
    }
    throw ScriptError(notHandled, "The application doesn\u2019t understand the \u201c" + handler + "\u201d message.");
}

} // namespace tarpelix::platform
