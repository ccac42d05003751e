#pragma once

#include "platform/appkit/Color.h"
#include "platform/appkit/RecordingContext.h"
#include "platform/appkit/Responder.h"
#include "platform/appkit/View.h"
#include "platform/appkit/WindowLayout.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarpelix::platform {

class TitleBarView;
class WindowButton;
class Window;

// What the window looks like and does, with the platform's values.
using WindowStyleMask = std::uint64_t;
namespace WindowStyle {
constexpr WindowStyleMask borderless = 0;
constexpr WindowStyleMask titled = 1 << 0;
constexpr WindowStyleMask closable = 1 << 1;
constexpr WindowStyleMask miniaturizable = 1 << 2;
constexpr WindowStyleMask resizable = 1 << 3;
constexpr WindowStyleMask utilityWindow = 1 << 4;
constexpr WindowStyleMask nonactivatingPanel = 1 << 7;
} // namespace WindowStyle

// Window levels: higher levels stay in front of lower ones.
using WindowLevel = int;
namespace WindowLevels {
constexpr WindowLevel normal = 0;
constexpr WindowLevel floating = 3;
constexpr WindowLevel modalPanel = 8;
constexpr WindowLevel statusBar = 25;
constexpr WindowLevel popUpMenu = 101;
} // namespace WindowLevels

// How the window takes part in spaces, window cycling and full screen (the platform's values).
using WindowCollectionBehavior = std::uint64_t;
namespace WindowCollection {
constexpr WindowCollectionBehavior canJoinAllSpaces = 1 << 0;
constexpr WindowCollectionBehavior moveToActiveSpace = 1 << 1;
constexpr WindowCollectionBehavior managed = 1 << 2;
constexpr WindowCollectionBehavior transient = 1 << 3;
constexpr WindowCollectionBehavior stationary = 1 << 4;
constexpr WindowCollectionBehavior participatesInCycle = 1 << 5;
constexpr WindowCollectionBehavior ignoresCycle = 1 << 6;
constexpr WindowCollectionBehavior fullScreenPrimary = 1 << 7;
constexpr WindowCollectionBehavior fullScreenAuxiliary = 1 << 8;
constexpr WindowCollectionBehavior fullScreenNone = 1 << 9;
constexpr WindowCollectionBehavior canJoinAllApplications = 1 << 18;
} // namespace WindowCollection

enum class WindowButtonKind { close, miniaturize };

// How the window animates as it is ordered in and out; kept, not played.
enum class WindowAnimationBehavior { defaultBehavior, none, documentWindow, utilityWindow, alertPanel };

// Told what happens to a window; every call has a default that does nothing (or allows).
class WindowDelegate {
public:
    virtual ~WindowDelegate() = default;
    virtual bool windowShouldClose(Window&) { return true; }
    virtual void windowWillClose(Window&) {}
    virtual void windowDidBecomeKey(Window&) {}
    virtual void windowDidResignKey(Window&) {}
    virtual void windowDidBecomeMain(Window&) {}
    virtual void windowDidResignMain(Window&) {}
    virtual void windowDidMiniaturize(Window&) {}
    virtual void windowDidDeminiaturize(Window&) {}
    virtual void windowDidResize(Window&) {}
};

// Notifications posted on the default centre with the window as object.
inline const std::string windowWillCloseNotification = "NSWindowWillCloseNotification";
inline const std::string windowDidBecomeKeyNotification = "NSWindowDidBecomeKeyNotification";
inline const std::string windowDidResignKeyNotification = "NSWindowDidResignKeyNotification";

// A window of the application: a frame on the screen (global coordinates, y up), our own
// 28-point title bar when titled, and a content view below it. Windows are shared
// (std::make_shared) and known to the application while they exist. Main thread only.
class Window : public Responder {
public:
    static constexpr double titleBarHeight = 28;

    Window(const Rect& contentRect, WindowStyleMask styleMask);
    ~Window() override;

    static std::shared_ptr<Window> create(const Rect& contentRect, WindowStyleMask styleMask) {
        return std::make_shared<Window>(contentRect, styleMask);
    }

    // MARK: Style and geometry
    WindowStyleMask styleMask() const { return styleMask_; }
    void setStyleMask(WindowStyleMask mask);
    bool hasTitleBar() const { return (styleMask_ & WindowStyle::titled) != 0; }
    Rect frame() const { return frame_; }
    void setFrame(const Rect& frame);
    void setFrameOrigin(Point origin) { setFrame({origin, frame_.size}); }
    Rect contentRectForFrameRect(const Rect& frame) const;
    Rect frameRectForContentRect(const Rect& content) const;
    void setContentSize(Size size);
    Size contentMinSize() const { return contentMinSize_; }
    // The content is never made smaller than this.
    void setContentMinSize(Size size);
    // Centres the window horizontally on the main screen's visible frame, a little above the
    // middle vertically.
    void center();

    const std::string& title() const { return title_; }
    void setTitle(std::string title);

    WindowLevel level() const { return level_; }
    void setLevel(WindowLevel level);
    WindowCollectionBehavior collectionBehavior() const { return collectionBehavior_; }
    void setCollectionBehavior(WindowCollectionBehavior behavior) { collectionBehavior_ = behavior; }
    bool ignoresMouseEvents() const { return ignoresMouseEvents_; }
    void setIgnoresMouseEvents(bool ignores) { ignoresMouseEvents_ = ignores; }
    std::optional<Color> backgroundColor() const { return backgroundColor_; }
    // None: the window background colour.
    void setBackgroundColor(std::optional<Color> color);
    bool isOpaque() const { return opaque_; }
    void setOpaque(bool opaque) { opaque_ = opaque; }
    bool hasShadow() const { return hasShadow_; }
    void setHasShadow(bool shadow) { hasShadow_ = shadow; }
    bool hidesOnDeactivate() const { return hidesOnDeactivate_; }
    void setHidesOnDeactivate(bool hides) { hidesOnDeactivate_ = hides; }
    bool isReleasedWhenClosed() const { return releasedWhenClosed_; }
    void setReleasedWhenClosed(bool released) { releasedWhenClosed_ = released; }
    bool isExcludedFromWindowsMenu() const { return excludedFromWindowsMenu_; }
    void setExcludedFromWindowsMenu(bool excluded) { excludedFromWindowsMenu_ = excluded; }
    WindowAnimationBehavior animationBehavior() const { return animationBehavior_; }
    void setAnimationBehavior(WindowAnimationBehavior behavior) { animationBehavior_ = behavior; }
    std::optional<Appearance> appearance() const { return appearance_; }
    void setAppearance(std::optional<Appearance> appearance);
    DrawingAppearance effectiveAppearance() const;

    // MARK: Views
    const std::shared_ptr<View>& contentView() const { return contentView_; }
    // The view fills the content rectangle.
    void setContentView(std::shared_ptr<View> view);
    // The root of the window's views: the title bar and the content view.
    View& frameView() const { return *frameView_; }
    // The title bar's close or miniaturise button; none without a title bar.
    WindowButton* standardWindowButton(WindowButtonKind kind) const;

    WindowDelegate* delegate() const { return delegate_.lock().get(); }
    void setDelegate(std::weak_ptr<WindowDelegate> delegate) { delegate_ = std::move(delegate); }

    // MARK: Ordering, key and main
    bool isVisible() const { return visible_; }
    bool isMiniaturized() const { return miniaturized_; }
    bool isKeyWindow() const;
    bool isMainWindow() const;
    // Whether the window may become key or main: the default allows it for windows with a
    // title bar or resize bar.
    virtual bool canBecomeKeyWindow() const;
    virtual bool canBecomeMainWindow() const;
    // Shows the window in front of its level and makes it key when it can.
    void makeKeyAndOrderFront();
    void makeKeyWindow();
    void makeMainWindow();
    // Shows the window in front of the application's windows of its level.
    void orderFront();
    // The same, even while the application is inactive.
    void orderFrontRegardless();
    void orderOut();
    // As the close button: asks the delegate (or this window) and closes when allowed; beeps
    // without a close button.
    void performClose();
    // Closes at once: tells the delegate, posts the notification, orders out.
    void close();
    void miniaturize();
    void deminiaturize();
    // Asked by performClose when there is no delegate; the default allows.
    virtual bool windowShouldClose() { return true; }

    // MARK: First responder and the key-view loop
    Responder* firstResponder() const;
    // Asks the current first responder to resign and the new one to become first; none makes
    // the window itself first responder. False when either refused.
    bool makeFirstResponder(Responder* responder);
    // The views Tab visits, in geometry order (top to bottom, then leading to trailing).
    std::vector<View*> keyViewLoop() const;
    void selectNextKeyView();
    void selectPreviousKeyView();
    // The view first responder goes to when the window first becomes key.
    void setInitialFirstResponder(View* view);

    // MARK: Events
    // Key-down handling: key equivalents of this window (a subclass first, then its views),
    // then the first responder's keyDown up the chain.
    bool performKeyEquivalent(const KeyEvent& event) override;
    // Tab, Shift-Tab and Escape when no view took them.
    void keyDown(const KeyEvent& event) override;
    // Routes an event of the application to the window's views.
    virtual void sendEvent(const KeyEvent& event);
    virtual void sendEvent(const MouseEvent& event);
    // The window's topmost visible view at a point of its base coordinates.
    View* hitTest(Point pointInWindow) const;

    // MARK: Drawing
    // Lays out and draws the window when anything in it needs display; the drawing is kept
    // as the window's backing store.
    void displayIfNeeded();
    void display();
    // What the window last displayed; none before its first display.
    const std::optional<RecordingContext>& backingStore() const { return backing_; }
    int displayCount() const { return displayCount_; }
    // Lays the window out and draws it (background, title bar, content, focus ring) into the
    // context, whose coordinates are the window's base coordinates.
    void draw(GraphicsContext& context);
    // The window drawn now into a recording of its frame's size.
    RecordingContext record();
    // The window rendered at 2× into a PNG file.
    void writePNG(const std::filesystem::path& path);

    // Used by the view tree.
    void viewWillLeaveWindow(View* view);

    // MARK: Constraint-based layout
    // Marks the window's constraints, intrinsic sizes or frames as changed: the next
    // layoutIfNeeded (or display) solves them again.
    void setNeedsConstraintLayout() {
        if (!applyingLayout_) needsConstraintLayout_ = true;
    }
    bool needsConstraintLayout() const { return needsConstraintLayout_; }
    // Solves the constraints when needed, then runs the views' layout(); again (a few times
    // at most) when that changed constraints or frames. Display does it first.
    void layoutIfNeeded();
    // What went wrong in laying the window out: the broken constraints and window growth
    // reported so far, and the ambiguous frames and unsettled wrapping of the last pass.
    std::vector<WindowLayoutIssue> layoutIssues() const;

    // MARK: Sheets
    // The sheet shown on this window; none while none is.
    Window* attachedSheet() const { return sheet_.get(); }
    // The window this sheet is attached to; none for other windows.
    Window* sheetParent() const { return sheetParent_; }
    // Attaches the sheet (laid out first) centred at the top of the content area, shows it in
    // front and makes it key. While it is up the window's own views take no events, keys go to
    // the sheet, and the window draws the sheet over itself. False when one is already up.
    bool beginSheet(std::shared_ptr<Window> sheet);
    // Detaches the sheet and orders it out; the window becomes key again.
    void endSheet(Window& sheet);

protected:
    // Positions the title bar and the content view in the frame.
    void tile();

private:
    void becomeKey();
    void resignKey();
    friend class Application;

    WindowStyleMask styleMask_;
    Rect frame_;
    Size contentMinSize_;
    std::string title_;
    WindowLevel level_ = WindowLevels::normal;
    WindowCollectionBehavior collectionBehavior_ = 0;
    bool ignoresMouseEvents_ = false;
    std::optional<Color> backgroundColor_;
    bool opaque_ = true;
    bool hasShadow_ = true;
    bool hidesOnDeactivate_ = false;
    bool releasedWhenClosed_ = true;
    bool excludedFromWindowsMenu_ = false;
    WindowAnimationBehavior animationBehavior_ = WindowAnimationBehavior::defaultBehavior;
    std::optional<Appearance> appearance_;
    std::shared_ptr<View> frameView_;
    std::shared_ptr<TitleBarView> titleBar_;
    std::shared_ptr<View> contentView_;
    std::weak_ptr<WindowDelegate> delegate_;
    std::weak_ptr<Responder> firstResponder_;
    std::weak_ptr<View> initialFirstResponder_;
    bool visible_ = false;
    bool miniaturized_ = false;
    bool hasBeenKey_ = false;
    std::optional<RecordingContext> backing_;
    int displayCount_ = 0;
    bool needsConstraintLayout_ = true;
    bool applyingLayout_ = false;
    std::unique_ptr<WindowLayout> layout_;
    std::shared_ptr<Window> sheet_;
    Window* sheetParent_ = nullptr;
};

} // namespace tarpelix::platform
