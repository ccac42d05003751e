#pragma once

#include "platform/appkit/TextView.h"
#include "platform/appkit/View.h"
#include "platform/appkit/Window.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Bytes.h"
#include "platform/foundation/Uuid.h"
#include "storage/TransferStorage.h"
#include "ui/PageDocumentView.h"
#include "windows/LastPasteImage.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tarpelix::platform {
class Button;
class ImageView;
class Label;
class ScrollView;
class StackView;
class ViewConstraint;
} // namespace tarpelix::platform

namespace tarpelix {

class InterfaceCardView;

// The "Last Paste Status" window: Esc (whatever the modifiers) and Command-W close it.
class LastPasteWindow final : public platform::Window {
public:
    using platform::Window::Window;
    bool performKeyEquivalent(const platform::KeyEvent& event) override;
};

// The details text: Command-A selects all of it and Command-C copies the selection (exactly
// Command, nothing else held); Esc closes the window.
class LastPasteTextView final : public platform::TextView {
public:
    using platform::TextView::TextView;
    bool performKeyEquivalent(const platform::KeyEvent& event) override;
    void cancelOperation() override;
};

// The rounded, faintly filled area behind the preview thumbnail.
class LastPastePreviewBackground final : public platform::View {
public:
    using platform::View::View;
    void viewDidChangeEffectiveAppearance() override;
    void draw(platform::GraphicsContext& context, const platform::Rect& dirtyRect) override;
};

// Shows the latest paste attempt the transfer storage holds, reloads it every second while the
// window is open, previews its retained image and copies its path or image. One controller
// lives for the life of the process; closing only hides the window. Storage is reached only
// through the closures given at creation, whose answers may arrive on any thread and are
// taken on the main thread; answers for a closed window or a dropped attempt are discarded by
// counters. Thumbnails are decoded on a queue of their own, and an image to copy is checked
// on a global queue. Main thread only.
class LastPasteWindowController final : public platform::WindowDelegate,
                                        public std::enable_shared_from_this<LastPasteWindowController> {
public:
    using Result = TransferStorage::LatestAttemptResult;
    using LoadCompletion = std::function<void(Result)>;
    using Load = std::function<void(LoadCompletion)>;
    using ReadCompletion = std::function<void(std::optional<platform::Bytes>)>;
    using ReadImage = std::function<void(const platform::Uuid& id, ReadCompletion)>;
    using WritePath = std::function<bool(const std::string& path)>;
    using WriteImage = std::function<bool(const platform::Bytes& png)>;
    using Canceller = std::function<void()>;
    using ScheduleRefresh = std::function<Canceller(std::function<void()> action)>;
    using Activate = std::function<void()>;

    static constexpr platform::Size contentSize{640, 580};
    static constexpr platform::Size minimumContentSize{520, 420};
    // The longest side of a preview thumbnail, in pixels.
    static constexpr std::size_t thumbnailPixels = LastPasteImage::thumbnailPixels;

    // `load` is required. Defaults: `readImage` answers nothing at once; `writePath` and
    // `writeImage` write to the general pasteboard as the copy-last controllers do;
    // `scheduleRefresh` is scheduleTimer; `activate` brings the application to the front.
    static std::shared_ptr<LastPasteWindowController> create(Load load, ReadImage readImage = {},
                                                             WritePath writePath = {}, WriteImage writeImage = {},
                                                             ScheduleRefresh scheduleRefresh = {},
                                                             Activate activate = {});
    ~LastPasteWindowController() override;
    LastPasteWindowController(const LastPasteWindowController&) = delete;
    LastPasteWindowController& operator=(const LastPasteWindowController&) = delete;

    // A repeating 1-second timer of the default mode on the main run loop (so it pauses while
    // a menu tracks); the canceller invalidates it.
    static Canceller scheduleTimer(std::function<void()> action);

    // Opens the window (loading afresh after it was closed) or, when open, reloads it; then
    // brings it to the front, key, with the application active.
    void showWindow();
    // Reloads the latest attempt while the window is open; a request during a load becomes
    // one follow-up load.
    void refreshIfVisible();
    // Drops everything shown and every answer still on its way.
    void invalidate();
    void copyPath();
    void copyImage();

    void windowWillClose(platform::Window& window) override;
    void windowDidResize(platform::Window& window) override;

    // The views, for the application's tests and the gallery.
    LastPasteWindow& window() const { return *window_; }
    LastPasteTextView& textView() const { return *textView_; }
    platform::ScrollView& scrollView() const { return *scrollView_; }
    platform::Label& outcomeLabel() const { return *outcomeLabel_; }
    platform::Label& metadataLabel() const { return *metadataLabel_; }
    platform::View& recoveryCard() const;
    platform::ImageView& previewView() const { return *previewView_; }
    platform::Label& previewLabel() const { return *previewLabel_; }
    platform::Label& pathTitle() const { return *pathTitle_; }
    platform::Label& pathLabel() const { return *pathLabel_; }
    platform::Button& copyPathButton() const { return *copyPathButton_; }
    platform::Button& copyImageButton() const { return *copyImageButton_; }
    platform::Label& copyFeedback() const { return *copyFeedback_; }
    const platform::DispatchQueue& previewWorker() const { return *previewWorker_; }
    bool isPresented() const { return presented_; }
    bool isLoading() const { return loading_; }
    bool isCopying() const { return copying_; }

private:
    LastPasteWindowController(Load load, ReadImage readImage, WritePath writePath, WriteImage writeImage,
                              ScheduleRefresh scheduleRefresh, Activate activate);
    void buildContent();
    void loaded(std::int64_t revision, Result result);
    void applyContext(Result result);
    void showDetails();
    void previewDecoded(std::int64_t contextRevision, const platform::Uuid& id,
                        std::shared_ptr<const platform::Image> thumbnail);
    void updateCopyButtons();
    void copy(bool image);
    void copyLoaded(std::int64_t contextRevision, const platform::Uuid& attempt, bool image, Result fresh);
    void imageChecked(std::int64_t contextRevision, LastPasteImage::Checked checked);
    void finishCopy(const std::string& message, bool reload);
    // The completion that takes `value` on the main thread and hands it to `accept` while the
    // controller lives.
    template <typename Value, typename Accept>
    std::function<void(Value)> onMain(Accept accept);

    std::shared_ptr<LastPasteTextView> textView_;
    std::shared_ptr<platform::ScrollView> scrollView_;
    std::shared_ptr<platform::Label> outcomeLabel_;
    std::shared_ptr<platform::Label> metadataLabel_;
    std::shared_ptr<InterfaceCardView> recoveryCard_;
    std::shared_ptr<PageDocumentView> documentView_;
    std::shared_ptr<platform::ViewConstraint> detailsHeight_;
    std::shared_ptr<platform::ImageView> previewView_;
    std::shared_ptr<platform::Label> previewLabel_;
    std::shared_ptr<platform::Label> pathTitle_;
    std::shared_ptr<platform::Label> pathLabel_;
    std::shared_ptr<platform::Button> copyPathButton_;
    std::shared_ptr<platform::Button> copyImageButton_;
    std::shared_ptr<platform::Label> copyFeedback_;
    ReadImage readImage_;
    WritePath writePath_;
    WriteImage writeImage_;
    std::optional<Result> current_;
    std::int64_t contextRevision_ = 0;
    std::optional<platform::Uuid> previewID_;
    bool copying_ = false;
    std::shared_ptr<platform::DispatchQueue> previewWorker_;
    Load load_;
    ScheduleRefresh scheduleRefresh_;
    Activate activate_;
    Canceller cancelRefresh_;
    std::int64_t revision_ = 0;
    bool loading_ = false;
    bool refreshPending_ = false;
    bool presented_ = false;
    std::shared_ptr<LastPasteWindow> window_;
};

} // namespace tarpelix
