#pragma once

#include "platform/desktop/Accessibility.h"
#include "platform/desktop/AppleEvents.h"
#include "platform/desktop/InputEvents.h"
#include "platform/desktop/PseudoTerminalSession.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tarpelix::platform {

// A simulated terminal application (Ghostty, iTerm2 or Terminal.app) on the simulated
// desktop: windows with tabs with panes, each pane a real pseudo-terminal running a real
// program. It runs the handlers of the shipped terminal scripts ("capturetarget" and, for
// Ghostty and iTerm2, "inserttext"), types the text of the keyboard events it receives into
// its focused pane, and keeps its accessibility tree (application, windows, the panes' text
// areas with the terminal's content attribute) and focus notifications up to date.
//
// Panes are named by handles this object gives out; pane() tells the identifiers a script
// sees. Made by GhosttyControl, ITerm2Control and TerminalAppControl; releasing it quits it.
class SimulatedTerminal final : public ScriptableApplication, public std::enable_shared_from_this<SimulatedTerminal> {
public:
    enum class Kind { ghostty, iTerm2, terminalApp };
    using Program = std::vector<std::string>; // empty: /bin/sh

    // What a script sees of one pane.
    struct PaneIdentifiers {
        std::string windowID;
        std::string tabID;
        std::string terminalID;
        std::string tty;
    };

    static std::shared_ptr<SimulatedTerminal> launch(Kind kind, bool activate = true);
    ~SimulatedTerminal() override;

    Kind kind() const { return kind_; }
    pid_t pid() const { return pid_; }
    const std::string& bundleIdentifier() const;

    // A new window with one tab holding one pane; it comes to the front with the focus on
    // the pane. Returns the pane's handle.
    std::string openWindow(Program program = {});
    // A new tab in the window of `pane`, selected and focused.
    std::string openTab(const std::string& pane, Program program = {});
    // A new pane beside `pane` in its tab, focused (not in Terminal.app).
    std::string splitPane(const std::string& pane, Program program = {});
    // Brings the pane's window to the front, selects its tab and focuses it.
    void focusPane(const std::string& pane);
    // Moves the focus to the front window's search field.
    void focusSearchField();
    // Opens a dialog with a text field in front of the windows and focuses it.
    void showDialog();
    // Stops the pane's program and removes it; its tab and window go with their last pane.
    void closePane(const std::string& pane);
    // Runs a new program in a new pseudo-terminal in place of the pane's (its TTY changes).
    void restartPane(const std::string& pane, Program program = {});
    // Quits: every pane's program stops and the application leaves the workspace.
    void quit();
    // Moves and resizes the window that holds the pane: its "AXPosition" and "AXSize", in
    // Accessibility coordinates (top-left of the primary screen, y down). A new window
    // opens at 80, 60 (24 points further for each window already open), 960 × 640.
    void moveWindow(const std::string& pane, AXPoint position, AXSize size);

    PaneIdentifiers pane(const std::string& pane) const;
    // The pane's text area, for comparing with what the system captured.
    AXUIElementRef paneElement(const std::string& pane) const;
    // Accessibility node numbers, for injecting errors with AccessibilityControl.
    static constexpr std::uint64_t applicationNode = 0;
    std::uint64_t paneNode(const std::string& pane) const;
    std::uint64_t windowNode(const std::string& pane) const;

    // What the pane's program printed; waits for text; types as the user does.
    std::string output(const std::string& pane) const;
    bool waitForOutput(const std::string& pane, const std::string& text, double timeoutSeconds = 10.0) const;
    void type(const std::string& pane, const std::string& text);

    AppleEventDescriptor handleScriptCall(const std::string& handler,
                                          const std::vector<AppleEventDescriptor>& arguments) override;

    struct Pane;
    struct Tab;
    struct Window;
    SimulatedTerminal(Kind kind, pid_t pid);

private:
    enum class FocusKind { none, pane, searchField, dialog };

    void receiveEvent(const EventRef& event);
    std::string addPaneLocked(Window& window, Tab& tab, Program program);
    void focusLocked(FocusKind kind, const std::string& pane);
    void publishFocusLocked();
    std::shared_ptr<PseudoTerminalSession> focusedSessionLocked() const;
    Pane& paneLocked(const std::string& handle) const;
    Window* windowOfLocked(const std::string& pane, Tab** tab = nullptr) const;
    Window& newWindowLocked(const std::string& subrole);
    AppleEventDescriptor captureTargetLocked() const;
    std::shared_ptr<PseudoTerminalSession> insertionSessionLocked(const std::vector<std::string>& arguments) const;

    const Kind kind_;
    const pid_t pid_;
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<Window>> windows_; // front to back
    std::map<std::string, std::shared_ptr<Pane>> panes_;
    FocusKind focus_ = FocusKind::none;
    std::uint64_t searchFieldNode_ = 0;
    std::uint64_t dialogWindowNode_ = 0;
    std::uint64_t dialogFieldNode_ = 0;
    std::uint64_t publishedFocus_ = 0;
    std::uint64_t publishedWindow_ = 0;
    int nextPane_ = 1;
    int nextWindowNumber_ = 1001;
    bool quit_ = false;
};

} // namespace tarpelix::platform
