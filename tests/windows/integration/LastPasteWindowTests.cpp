// The Last Paste Status window with scripted storage: each load and image read waits until the
// test answers it, and the refresh timer ticks when the test says so.

#include "windows/LastPasteWindowController.h"

#include "platform/appkit/AppKitControl.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Events.h"
#include "platform/appkit/ImageView.h"
#include "platform/appkit/Label.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/desktop/PasteboardControl.h"
#include "platform/imageio/ImageSource.h"
#include "support/MainLoop.h"
#include "support/TestImages.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tarpelix {
namespace {

using namespace platform;
using Controller = LastPasteWindowController;
using Result = TransferStorage::LatestAttemptResult;

constexpr const char* remotePath = "/home/dev/.cache/tarpelix/uploads/a.png";

struct LastPasteWindowTest : ::testing::Test {
    std::vector<Controller::LoadCompletion> loads;
    std::vector<std::pair<Uuid, Controller::ReadCompletion>> reads;
    std::function<void()> tick;
    int timersCancelled = 0;
    std::vector<std::string> paths;
    std::vector<Bytes> images;
    bool writesSucceed = true;
    int loadsStarted = 0;
    std::shared_ptr<Controller> controller;
    const Uuid first = Uuid::random();
    const Uuid second = Uuid::random();
    const Bytes png = testing::makePNG({.width = 48, .height = 30});

    void SetUp() override {
        DesktopControl::reset();
        controller = scripted([this](const Bytes& bytes) {
            images.push_back(bytes);
            return writesSucceed;
        });
    }
    // A controller on the scripted storage, path writer and timer; an empty `writeImage` writes
    // images to the general pasteboard.
    std::shared_ptr<Controller> scripted(Controller::WriteImage writeImage) {
        return Controller::create(
            [this](Controller::LoadCompletion completion) {
                ++loadsStarted;
                loads.push_back(std::move(completion));
            },
            [this](const Uuid& id, Controller::ReadCompletion completion) { reads.emplace_back(id, std::move(completion)); },
            [this](const std::string& path) {
                paths.push_back(path);
                return writesSucceed;
            },
            std::move(writeImage),
            [this](std::function<void()> action) {
                tick = std::move(action);
                return Controller::Canceller([this] { ++timersCancelled; });
            });
    }
    void TearDown() override {
        controller.reset();
        DesktopControl::reset();
    }

    // An attempt with its own retained image and, when `uploaded`, its confirmed path.
    Result attempt(const Uuid& id, bool uploaded = true, bool image = true) const {
        Result result;
        PasteAttempt a;
        a.id = id;
        a.terminal = "iterm2";
        a.transport = "ssh";
        a.feedback.operationID = id;
        a.feedback.outcome = PasteFeedback::Outcome::success;
        result.attempt = a;
        TransferRecord record;
        record.id = id;
        record.uploadOutcome = TransferOutcome::succeeded;
        record.confirmedRemotePath = remotePath;
        if (uploaded) result.upload = TransferStorage::ConfirmedUploadSnapshot{record};
        if (image) result.image = TransferStorage::LatestImageSnapshot{record};
        return result;
    }

    // Answers the oldest load still waiting (from another thread when asked, as storage may).
    void answerLoad(const Result& result, bool offMain = false) {
        ASSERT_FALSE(loads.empty());
        auto completion = std::move(loads.front());
        loads.erase(loads.begin());
        if (offMain) {
            std::thread([&] { completion(result); }).join();
        } else {
            completion(result);
        }
    }
    void answerRead(std::optional<Bytes> bytes) {
        ASSERT_FALSE(reads.empty());
        auto completion = std::move(reads.front().second);
        reads.erase(reads.begin());
        completion(std::move(bytes));
    }
    // Opens the window on a result whose preview has been decoded.
    void showDecoded(const Result& result) {
        controller->showWindow();
        answerLoad(result);
        answerRead(png);
        ASSERT_TRUE(testing::runMainUntil([&] { return controller->previewView().image().has_value(); }));
    }
    std::string feedback() const {
        return controller->copyFeedback().isHidden() ? "" : controller->copyFeedback().stringValue();
    }
};

TEST_F(LastPasteWindowTest, OpensLoadingThenShowsTheResultAndReopeningReloadsWithoutClearing) {
    controller->showWindow();
    EXPECT_EQ(controller->outcomeLabel().stringValue(), "Loading last paste status\u2026");
    EXPECT_TRUE(controller->recoveryCard().isHidden());
    EXPECT_TRUE(controller->window().isVisible());
    EXPECT_TRUE(controller->window().isKeyWindow());
    ASSERT_TRUE(tick);
    EXPECT_EQ(controller->previewWorker().label(), "com.tarpelix.recovery-preview");
    EXPECT_EQ(controller->previewWorker().qualityOfService(), QualityOfService::userInitiated);

    answerLoad(attempt(first), true);
    EXPECT_EQ(controller->outcomeLabel().stringValue(), "Loading last paste status\u2026") << "taken on the main thread";
    ASSERT_TRUE(testing::runMainUntil([&] { return controller->outcomeLabel().stringValue() == "Path handed to terminal"; }));
    EXPECT_FALSE(controller->recoveryCard().isHidden());
    EXPECT_EQ(controller->pathLabel().stringValue(), remotePath);
    EXPECT_EQ(controller->pathLabel().toolTip(), remotePath);
    EXPECT_EQ(controller->previewLabel().stringValue(), "Loading preview\u2026");

    controller->showWindow();
    EXPECT_EQ(loadsStarted, 2);
    EXPECT_EQ(controller->outcomeLabel().stringValue(), "Path handed to terminal") << "reopening does not clear";
}

TEST_F(LastPasteWindowTest, LateLoadsAreDroppedAndRequestsDuringALoadCollapse) {
    // After a close: neither a reload nor a copy still on its way changes anything.
    showDecoded(attempt(first));
    controller->copyPath();
    controller->refreshIfVisible();
    controller->window().performClose();
    EXPECT_EQ(timersCancelled, 1);
    answerLoad(attempt(first));
    answerLoad(attempt(second));
    EXPECT_TRUE(paths.empty());
    EXPECT_EQ(feedback(), "");
    EXPECT_EQ(controller->outcomeLabel().stringValue(), "");
    controller->showWindow();
    EXPECT_EQ(controller->outcomeLabel().stringValue(), "Loading last paste status\u2026");
    EXPECT_TRUE(controller->recoveryCard().isHidden());
    EXPECT_FALSE(controller->isCopying());
    EXPECT_FALSE(controller->copyPathButton().isEnabled());
    EXPECT_FALSE(controller->copyImageButton().isEnabled());
    answerLoad(Result{});

    // After a newer load began: only the newer answer counts.
    controller->refreshIfVisible();
    controller->invalidate();
    controller->refreshIfVisible();
    ASSERT_EQ(loads.size(), 2u);
    answerLoad(attempt(first));
    EXPECT_EQ(controller->outcomeLabel().stringValue(), "");
    answerLoad(Result{});
    EXPECT_EQ(controller->outcomeLabel().stringValue(), "No recent paste");

    // Three requests and a tick during one load: one follow-up, the first answer discarded.
    const int before = loadsStarted;
    controller->refreshIfVisible();
    controller->refreshIfVisible();
    controller->refreshIfVisible();
    tick();
    EXPECT_EQ(loadsStarted, before + 1);
    answerLoad(attempt(first));
    EXPECT_EQ(loadsStarted, before + 2);
    EXPECT_EQ(controller->outcomeLabel().stringValue(), "No recent paste");
    answerLoad(attempt(first));
    EXPECT_EQ(controller->outcomeLabel().stringValue(), "Path handed to terminal");
    tick();
    EXPECT_EQ(loadsStarted, before + 3) << "an idle tick reloads";
}

TEST_F(LastPasteWindowTest, PreviewIsDecodedOncePerRecordResetByANewAttemptAndMayNotDecode) {
    const auto decodes = ImageSource::decodeAttempts();
    showDecoded(attempt(first));
    EXPECT_EQ(ImageSource::decodeAttempts(), decodes + 1);
    EXPECT_TRUE(controller->previewLabel().isHidden());
    EXPECT_TRUE(controller->copyImageButton().isEnabled());
    EXPECT_EQ(controller->previewView().image()->size(), (Size{48, 30}));

    controller->copyPath();
    answerLoad(attempt(first));
    EXPECT_EQ(feedback(), "Uploaded path copied.");
    tick();
    answerLoad(attempt(first));
    EXPECT_TRUE(reads.empty()) << "a refresh of the same attempt keeps its preview";
    EXPECT_TRUE(controller->previewView().image());
    EXPECT_EQ(feedback(), "Uploaded path copied.");

    tick();
    answerLoad(attempt(second, false));
    EXPECT_EQ(feedback(), "") << "a new attempt resets the copy line";
    EXPECT_FALSE(controller->previewView().image());
    EXPECT_EQ(controller->previewLabel().stringValue(), "Loading preview\u2026");
    EXPECT_FALSE(controller->copyImageButton().isEnabled());
    EXPECT_FALSE(controller->copyPathButton().isEnabled());
    EXPECT_EQ(controller->pathLabel().stringValue(), "No confirmed uploaded path");
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].first, second);
    answerRead(Bytes{0x89, 'P', 'N', 'G', 1, 2, 3}); // undecodable
    ASSERT_TRUE(testing::runMainUntil([&] { return controller->previewLabel().stringValue() == "Preview unavailable"; }));
    EXPECT_FALSE(controller->previewLabel().isHidden());
    EXPECT_FALSE(controller->copyImageButton().isEnabled());
}

TEST_F(LastPasteWindowTest, ImageGoneDropsThePreviewAndTheCopyInFlight) {
    showDecoded(attempt(first));
    controller->copyImage();
    EXPECT_FALSE(controller->copyPathButton().isEnabled());
    controller->refreshIfVisible();
    // The reload (second in line) answers first, without the image; then the copy's load.
    std::swap(loads[0], loads[1]);
    answerLoad(attempt(first, true, false));
    EXPECT_EQ(controller->previewLabel().stringValue(), "No retained image");
    EXPECT_FALSE(controller->previewLabel().isHidden());
    EXPECT_FALSE(controller->isCopying());
    EXPECT_FALSE(controller->copyImageButton().isEnabled());
    EXPECT_TRUE(controller->copyPathButton().isEnabled());
    answerLoad(attempt(first));
    EXPECT_TRUE(reads.empty());
    EXPECT_EQ(feedback(), "");
    EXPECT_TRUE(images.empty());
}

TEST_F(LastPasteWindowTest, EveryCopyMessageAndWhetherItReloads) {
    struct Case {
        bool image;
        std::optional<Result> fresh; // none: the shown attempt unchanged
        std::optional<Bytes> read;
        bool writes;
        std::string message;
        bool reloads;
    };
    const std::vector<Case> cases = {
        {false, std::nullopt, std::nullopt, true, "Uploaded path copied.", false},
        {false, std::nullopt, std::nullopt, false, "Could not copy the path. Try again.", false},
        {false, attempt(first, false), std::nullopt, true, "This uploaded path is no longer available.", true},
        {false, attempt(second), std::nullopt, true, "This paste is no longer current. Reopen Last Paste Status.", true},
        {true, Result{}, std::nullopt, true, "This paste is no longer current. Reopen Last Paste Status.", true},
        {true, attempt(first, true, false), std::nullopt, true, "This image is no longer available.", true},
        {true, std::nullopt, Bytes{}, true, "This image is no longer available.", false},
        {true, std::nullopt, std::nullopt, true, "This image is no longer available.", false},
        {true, std::nullopt, png, true, "Image copied.", false},
        {true, std::nullopt, png, false, "Could not copy the image. Try again.", false},
    };
    showDecoded(attempt(first));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        writesSucceed = c.writes;
        paths.clear();
        images.clear();
        c.image ? controller->copyImage() : controller->copyPath();
        EXPECT_TRUE(controller->isCopying());
        EXPECT_FALSE(controller->copyImageButton().isEnabled());
        answerLoad(c.fresh.value_or(attempt(first)));
        if (!reads.empty()) answerRead(c.read);
        ASSERT_TRUE(testing::runMainUntil([&] { return !controller->isCopying(); }));
        EXPECT_EQ(feedback(), c.message);
        EXPECT_EQ(loads.size(), c.reloads ? 1u : 0u);
        const bool wrotePath = c.message == "Uploaded path copied." || c.message == "Could not copy the path. Try again.";
        const bool wroteImage = c.message == "Image copied." || c.message == "Could not copy the image. Try again.";
        EXPECT_EQ(paths, wrotePath ? std::vector<std::string>{remotePath} : std::vector<std::string>{});
        EXPECT_EQ(images, wroteImage ? std::vector<Bytes>{png} : std::vector<Bytes>{});
        // Back to the shown attempt, its preview kept, before the next case.
        if (!loads.empty()) answerLoad(attempt(first));
        EXPECT_TRUE(controller->copyPathButton().isEnabled());
        EXPECT_TRUE(controller->copyImageButton().isEnabled());
    }
}

// Holds every worker of the default global queue while it lives: a block queued there
// meanwhile waits until it ends.
class GlobalQueueHold {
public:
    // One block at a time, each once the one before runs: a worker that is idle takes only one.
    GlobalQueueHold() {
        held_ = true;
        for (std::size_t i = 1; held_ && i <= DispatchQueue::globalWidth; ++i) {
            DispatchQueue::global()->async([state = state_] {
                std::unique_lock lock(state->mutex);
                ++state->holding;
                state->changed.notify_all();
                state->changed.wait(lock, [&] { return state->released; });
            });
            std::unique_lock lock(state_->mutex);
            held_ = state_->changed.wait_for(lock, std::chrono::seconds(30), [&] { return state_->holding == i; });
        }
    }
    ~GlobalQueueHold() {
        std::lock_guard lock(state_->mutex);
        state_->released = true;
        state_->changed.notify_all();
    }
    GlobalQueueHold(const GlobalQueueHold&) = delete;
    GlobalQueueHold& operator=(const GlobalQueueHold&) = delete;
    bool held() const { return held_; }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        std::size_t holding = 0;
        bool released = false;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
    bool held_ = false;
};

TEST_F(LastPasteWindowTest, CopyImageChecksOffTheMainThreadAndStillRefusesDamagedBytes) {
    DesktopControl::setPasteboardAccessBehavior(2);
    controller = scripted({});
    const Bytes screenshot = testing::makePNG({.width = 640,
                                               .height = 400,
                                               .colorType = PNG_COLOR_TYPE_RGB,
                                               .samples = testing::screenshotSamples(640, 400)});
    showDecoded(attempt(first));

    std::optional<bool> copyingMeanwhile, enabledMeanwhile;
    {
        // The check waits while the global queue is held. A block posted to the main queue after
        // the copy has read its bytes runs while the copy is still under way: neither the main
        // thread nor the main queue checks them.
        GlobalQueueHold hold;
        ASSERT_TRUE(hold.held());
        controller->copyImage();
        answerLoad(attempt(first));
        answerRead(screenshot);
        DispatchQueue::main()->async([&] {
            copyingMeanwhile = controller->isCopying();
            enabledMeanwhile = controller->copyImageButton().isEnabled();
        });
        ASSERT_TRUE(testing::runMainUntil([&] { return copyingMeanwhile.has_value(); }));
    }
    EXPECT_EQ(copyingMeanwhile, true);
    EXPECT_EQ(enabledMeanwhile, false);
    ASSERT_TRUE(testing::runMainUntil([&] { return !controller->isCopying(); }));
    EXPECT_EQ(feedback(), "Image copied.");
    EXPECT_EQ(Pasteboard::general().dataForType(PasteboardType::png), screenshot);
    EXPECT_TRUE(controller->copyImageButton().isEnabled());

    // The file was damaged after its preview: refused, and the preview goes with it.
    controller->copyImage();
    answerLoad(attempt(first));
    answerRead(Bytes{0x89, 'P', 'N', 'G', 1, 2, 3});
    ASSERT_TRUE(testing::runMainUntil([&] { return !controller->isCopying(); }));
    EXPECT_EQ(feedback(), "This image is no longer available.");
    EXPECT_FALSE(controller->previewView().image());
    EXPECT_EQ(controller->previewLabel().stringValue(), "Preview unavailable");
    EXPECT_FALSE(controller->copyImageButton().isEnabled());
    EXPECT_EQ(Pasteboard::general().dataForType(PasteboardType::png), screenshot) << "the clipboard keeps the last copy";
}

TEST_F(LastPasteWindowTest, DetailsKeepTheSelectionWhenUnchangedAndFollowTheWidth) {
    Result shown = attempt(first, true, false);
    shown.attempt->feedback.explanation =
        "The remote host closed the connection while the image was being written to its upload directory.";
    controller->window().setContentSize({1200, 580});
    controller->showWindow();
    answerLoad(shown);
    controller->window().layoutIfNeeded();
    const double wide = controller->textView().frame().height();
    EXPECT_GT(wide, 80);
    controller->textView().selectAll();
    const TextRange selected = controller->textView().selectedRange();
    ASSERT_GT(selected.length, 0u);
    tick();
    answerLoad(shown);
    EXPECT_EQ(controller->textView().selectedRange(), selected);

    controller->window().setContentSize(Controller::minimumContentSize);
    controller->window().layoutIfNeeded();
    EXPECT_GT(controller->textView().frame().height(), wide) << "the explanation wraps onto more lines";
    EXPECT_EQ(controller->textView().frame().width(), Controller::minimumContentSize.width - 48);

    shown.attempt->feedback.nextStep = "Paste again";
    tick();
    answerLoad(shown);
    EXPECT_EQ(controller->textView().selectedRange().length, 0u) << "new text replaces the selection";
}

TEST_F(LastPasteWindowTest, KeysSelectCopyAndClose) {
    DesktopControl::setPasteboardAccessBehavior(2);
    controller->showWindow();
    answerLoad(Result{});
    ASSERT_EQ(controller->window().firstResponder(), &controller->textView());

    const int beeps = AppKitControl::beeps();
    AppKitControl::typeKey(0, "a", EventFlag::command | EventFlag::alphaShift);
    EXPECT_EQ(controller->textView().selectedRange().length, 0u) << "Caps Lock falls through";
    EXPECT_EQ(AppKitControl::beeps(), beeps + 1);

    AppKitControl::typeKey(0, "a", EventFlag::command);
    EXPECT_EQ(controller->textView().selectedRange().length, controller->textView().textStorage().length());
    AppKitControl::typeKey(8, "c", EventFlag::command);
    const std::string shown = "There is no retained attempt to show.\n";
    EXPECT_EQ(Pasteboard::general().dataForType(PasteboardType::string), Bytes(shown.begin(), shown.end()));

    AppKitControl::typeKey(KeyCode::escape, "\x1b", EventFlag::shift);
    EXPECT_FALSE(controller->window().isVisible());
    EXPECT_FALSE(controller->isPresented());

    controller->showWindow();
    controller->textView().cancelOperation();
    EXPECT_FALSE(controller->window().isVisible());

    controller->showWindow();
    AppKitControl::typeKey(13, "W", EventFlag::command);
    EXPECT_FALSE(controller->window().isVisible());
    EXPECT_EQ(timersCancelled, 3);
}

} // namespace
} // namespace tarpelix
