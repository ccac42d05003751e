#include "windows/PasteOverlayController.h"

#include "platform/appkit/Color.h"
#include "platform/appkit/Font.h"
#include "platform/appkit/ViewConstraint.h"
#include "platform/appkit/WindowDisplay.h"
#include "platform/desktop/Screen.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/foundation/MainThread.h"
#include "ui/InterfaceIcon.h"
#include "ui/InterfaceStyle.h"
#include "windows/PasteOverlayPlacement.h"
#include "windows/PasteOverlaySurface.h"

#include <algorithm>
#include <utility>

namespace tarpelix {

using namespace platform;
using Outcome = PasteFeedback::Outcome;

namespace {

// What a final result shows: its words, its symbol (none for a normal paste, which is never
// drawn) and the symbol's tint.
struct ResultLook {
    std::string text;
    std::optional<InterfaceIcon> icon;
    Color tint;
};

ResultLook look(Outcome outcome) {
    switch (outcome) {
    case Outcome::success: return {"Path sent to terminal", InterfaceIcon::success, Color::systemGreen()};
    case Outcome::failed: return {"Couldn’t paste image", InterfaceIcon::warning, Color::systemOrange()};
    case Outcome::cancelled:
    case Outcome::interrupted: return {"Paste stopped", InterfaceIcon::cancelled, Color::secondaryLabelColor()};
    case Outcome::uploadedWithoutInsertion:
        return {"Uploaded; path not pasted", InterfaceIcon::warning, Color::systemOrange()};
    case Outcome::ambiguous: return {"Check terminal input", InterfaceIcon::help, Color::systemOrange()};
    case Outcome::normalPaste: break;
    }
    return {"", std::nullopt, Color::secondaryLabelColor()};
}

constexpr double sideInset = 14;
constexpr double indicatorSide = 18;
constexpr double labelGap = 10;

} // namespace

PasteOverlayController::PasteOverlayController(bool isEnabled, Screens screens, Schedule schedule, Present present)
    : panel_(PasteOverlayPanel::create({0, 0, size.width, size.height}, WindowStyle::nonactivatingPanel)),
      stageLabel_(Label::labelWithString("")), spinner_(PasteOverlayActivityIndicator::create()),
      symbol_(std::make_shared<ImageView>()), isEnabled_(isEnabled), screens_(std::move(screens)),
      schedule_(std::move(schedule)), present_(std::move(present)), timerToken_(Uuid::random()) {
    // A floating, click-through panel that never takes focus, on every space and beside
    // full-screen windows, outside window cycling and the Windows menu.
    auto& panel = *panel_;
    panel.setReleasedWhenClosed(false);
    panel.setFloatingPanel(true);
    panel.setLevel(WindowLevels::floating);
    panel.setHidesOnDeactivate(false);
    panel.setIgnoresMouseEvents(true);
    panel.setOpaque(false);
    panel.setBackgroundColor(Color::clear());
    panel.setHasShadow(true);
    panel.setExcludedFromWindowsMenu(true);
    panel.setAnimationBehavior(WindowAnimationBehavior::none);
    panel.setCollectionBehavior(WindowCollection::canJoinAllSpaces | WindowCollection::ignoresCycle |
                                WindowCollection::fullScreenAuxiliary | WindowCollection::canJoinAllApplications);

    auto surface = PasteOverlaySurface::create({0, 0, size.width, size.height});
    panel.setContentView(surface);

    // The spinner and the symbol share one place; only the label is read out.
    spinner_->setTranslatesAutoresizingMaskIntoConstraints(false);
    symbol_->setTranslatesAutoresizingMaskIntoConstraints(false);
    symbol_->setAccessibilityElement(false);
    symbol_->setHidden(true);
    stageLabel_->setTranslatesAutoresizingMaskIntoConstraints(false);
    stageLabel_->setFont(Font::systemFont(13, FontWeight::medium));
    stageLabel_->setTextColor(Color::labelColor());
    stageLabel_->setMaximumNumberOfLines(1);
    stageLabel_->setLineBreakMode(LineBreakMode::byTruncatingTail);
    // Long text is cut at its end rather than widening the panel.
    stageLabel_->setContentCompressionResistancePriority(LayoutPriority::defaultLow, LayoutAxis::horizontal);
    surface->addSubview(spinner_);
    surface->addSubview(symbol_);
    surface->addSubview(stageLabel_);
    ViewConstraint::activate({
        spinner_->widthAnchor().constraintEqualToConstant(indicatorSide),
        spinner_->heightAnchor().constraintEqualToConstant(indicatorSide),
        spinner_->leadingAnchor().constraintEqualTo(surface->leadingAnchor(), sideInset),
        spinner_->centerYAnchor().constraintEqualTo(surface->centerYAnchor()),
        symbol_->leadingAnchor().constraintEqualTo(spinner_->leadingAnchor()),
        symbol_->centerYAnchor().constraintEqualTo(spinner_->centerYAnchor()),
        symbol_->widthAnchor().constraintEqualTo(spinner_->widthAnchor()),
        symbol_->heightAnchor().constraintEqualTo(spinner_->heightAnchor()),
        stageLabel_->leadingAnchor().constraintEqualTo(spinner_->trailingAnchor(), labelGap),
        stageLabel_->trailingAnchor().constraintEqualTo(surface->trailingAnchor(), -sideInset),
        stageLabel_->centerYAnchor().constraintEqualTo(surface->centerYAnchor()),
    });
}

std::shared_ptr<PasteOverlayController> PasteOverlayController::create(bool isEnabled, Screens screens,
                                                                       Schedule schedule, Present present) {
    auto controller = std::make_shared<PasteOverlayController>(isEnabled, std::move(screens), std::move(schedule),
                                                                std::move(present));
    std::weak_ptr<PasteOverlayController> weak = controller;
    controller->screenObserver_ = NotificationCenter::defaultCenter().addObserver(
        applicationDidChangeScreenParametersNotification, nullptr, DispatchQueue::main(), [weak](const Notification&) {
            if (auto self = weak.lock()) self->screenParametersChanged();
        });
    return controller;
}

PasteOverlayController::~PasteOverlayController() {
    if (auto cancel = std::exchange(cancelTimer_, nullptr)) cancel();
    NotificationCenter::defaultCenter().removeObserver(screenObserver_);
    panel_->orderOut();
}

void PasteOverlayController::setEnabled(bool enabled) {
    requireMainThread("PasteOverlayController::setEnabled");
    isEnabled_ = enabled;
    if (!enabled) hide();
}

void PasteOverlayController::setOrigin(const Uuid& operationID, const std::optional<Rect>& accessibilityFrame) {
    requireMainThread("PasteOverlayController::setOrigin");
    if (operationID_ == operationID) return;
    hide();
    operationID_ = operationID;
    latestFeedback_.reset();

    // The first display is the primary one, whose frame anchors the conversion from
    // Accessibility coordinates.
    const auto list = screens_();
    screenID_.reset();
    if (accessibilityFrame && !list.empty()) {
        if (auto display = PasteOverlayPlacement::screen(*accessibilityFrame, list, list.front().frame)) {
            screenID_ = display->id;
        }
    }
    dismissed_ = !screenID_ || !isEnabled_;
}

void PasteOverlayController::receive(const PasteFeedback& feedback) {
    requireMainThread("PasteOverlayController::receive");
    if (!operationID_ || *operationID_ != feedback.operationID) return;
    if (latestFeedback_ && *latestFeedback_ == feedback) return;
    const bool hasResult = latestFeedback_ && latestFeedback_->outcome;
    if (feedback.isRevision) {
        // A revision of a final result is kept silently; one before any result is dropped.
        if (hasResult) latestFeedback_ = feedback;
        return;
    }
    if (hasResult) return; // the first final outcome sticks
    if (latestFeedback_ && rawValue(feedback.stage) < rawValue(latestFeedback_->stage)) return;
    latestFeedback_ = feedback;
    if (dismissed_) return;
    if (feedback.outcome == Outcome::normalPaste) {
        hide();
        return;
    }
    if (!reposition()) {
        hide();
        return;
    }
    render(feedback);
    present_(*panel_);
    if (!feedback.outcome) return;

    // A result hides itself; a timer that outlives its operation or its token does nothing.
    timerToken_ = Uuid::random();
    std::weak_ptr<PasteOverlayController> weak = weak_from_this();
    const Uuid operation = feedback.operationID;
    const Uuid token = timerToken_;
    const double delay = feedback.outcome == Outcome::success ? successHideDelay : resultHideDelay;
    cancelTimer_ = schedule_(delay, [weak, operation, token] {
        auto self = weak.lock();
        if (self && self->operationID_ == operation && self->timerToken_ == token) self->hide();
    });
}

void PasteOverlayController::screenParametersChanged() {
    requireMainThread("PasteOverlayController::screenParametersChanged");
    if (dismissed_) return;
    if (!reposition()) hide();
}

std::vector<PasteOverlayScreen> PasteOverlayController::currentScreens() {
    std::vector<PasteOverlayScreen> list;
    for (const auto& screen : Screen::screens()) {
        if (!screen.screenNumber) continue;
        list.push_back({static_cast<std::uint32_t>(*screen.screenNumber), screen.frame, screen.visibleFrame});
    }
    return list;
}

std::function<void()> PasteOverlayController::scheduleTimer(double seconds, std::function<void()> action) {
    auto timer = RunLoop::main()->scheduleTimer(seconds, false, TimerMode::common,
                                                [action = std::move(action)](RunLoopTimer&) { action(); });
    return [timer] { timer->invalidate(); };
}

void PasteOverlayController::presentPanel(Panel& panel) {
    panel.orderFrontRegardless();
    panel.layoutIfNeeded();
    panel.displayIfNeeded();
    WindowDisplay::flushAnimationTransaction();
}

void PasteOverlayController::hide() {
    dismissed_ = true;
    timerToken_ = Uuid::random();
    if (auto cancel = std::exchange(cancelTimer_, nullptr)) cancel();
    spinner_->stopAnimation();
    panel_->orderOut();
}

bool PasteOverlayController::reposition() {
    if (!screenID_) return false;
    const auto list = screens_();
    const auto display = std::ranges::find(list, *screenID_, &PasteOverlayScreen::id);
    if (display == list.end()) return false;
    const auto frame = PasteOverlayPlacement::frame(*display, size);
    if (!frame) return false;
    panel_->setFrame(*frame);
    return true;
}

void PasteOverlayController::render(const PasteFeedback& feedback) {
    if (!feedback.outcome) {
        symbol_->setHidden(true);
        spinner_->startAnimation();
        stageLabel_->setStringValue("Pasting image…");
        return;
    }
    spinner_->stopAnimation();
    const ResultLook result = look(*feedback.outcome);
    if (result.icon) {
        InterfaceStyle::statusIcon(*symbol_, *result.icon, result.tint);
    } else {
        symbol_->setImage(std::nullopt);
        symbol_->setContentTintColor(result.tint);
    }
    symbol_->setHidden(false);
    stageLabel_->setStringValue(result.text);
}

} // namespace tarpelix
