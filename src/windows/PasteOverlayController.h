#pragma once

#include "model/PasteFeedback.h"
#include "platform/appkit/ImageView.h"
#include "platform/appkit/Label.h"
#include "platform/appkit/Panel.h"
#include "platform/foundation/Geometry.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Uuid.h"
#include "windows/PasteOverlayActivityIndicator.h"
#include "windows/PasteOverlayPanel.h"
#include "windows/PasteOverlayScreen.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace tarpelix {

// The paste overlay: a small pill near the bottom centre of the display holding the terminal
// window that shows "Pasting image…" with a spinner while a paste runs, then its result with a
// coloured symbol, and hides itself 0.5 s after a success or 1.2 s after any other result.
//
// It follows one operation at a time: setOrigin announces it with the terminal window's frame
// (Accessibility coordinates, y down from the primary display's top-left), and receive is offered
// every feedback change. Feedback of another operation, duplicates, a stage going back and any
// final outcome after the first are dropped; a revision of a final result is kept but not drawn.
// An operation whose window lies on no display, or that began while the overlay was off, is
// never shown. Main thread only: the public entries stop the process elsewhere.
class PasteOverlayController : public std::enable_shared_from_this<PasteOverlayController> {
public:
    using Screens = std::function<std::vector<PasteOverlayScreen>()>;
    // Starts a one-shot timer of the given seconds and returns its canceller.
    using Schedule = std::function<std::function<void()>(double seconds, std::function<void()> action)>;
    using Present = std::function<void(platform::Panel& panel)>;

    static constexpr platform::Size size{264, 44};
    static constexpr double successHideDelay = 0.5;
    static constexpr double resultHideDelay = 1.2;

    // Made through create(), which registers the screen-parameters observer.
    PasteOverlayController(bool isEnabled, Screens screens, Schedule schedule, Present present);
    ~PasteOverlayController();
    PasteOverlayController(const PasteOverlayController&) = delete;
    PasteOverlayController& operator=(const PasteOverlayController&) = delete;

    static std::shared_ptr<PasteOverlayController> create(bool isEnabled, Screens screens = currentScreens,
                                                          Schedule schedule = scheduleTimer,
                                                          Present present = presentPanel);

    // Off hides the overlay at once; on shows nothing until the next operation.
    void setEnabled(bool enabled);
    // Announces the operation the next feedback belongs to; none as the frame when Accessibility
    // gave no usable one. The same operation again changes nothing.
    void setOrigin(const platform::Uuid& operationID, const std::optional<platform::Rect>& accessibilityFrame);
    void receive(const PasteFeedback& feedback);
    // Follows a change of the display arrangement: moves the shown overlay to its display's new
    // bottom centre, or hides it when that display is gone. The screen observer calls it.
    void screenParametersChanged();

    // The displays that have a number, primary first, as the window server lists them.
    static std::vector<PasteOverlayScreen> currentScreens();
    // A one-shot timer on the main run loop in the common modes, so it fires while a menu
    // tracks; the canceller invalidates it.
    static std::function<void()> scheduleTimer(double seconds, std::function<void()> action);
    // Orders the panel front even while the application is inactive, lays it out, displays it
    // and flushes the animation transaction, so it is drawn before the main thread turns again.
    static void presentPanel(platform::Panel& panel);

    // What the overlay shows (for the application's own windows and for looking at it).
    const PasteOverlayPanel& panel() const { return *panel_; }
    const platform::Label& stageLabel() const { return *stageLabel_; }
    const PasteOverlayActivityIndicator& spinner() const { return *spinner_; }
    const platform::ImageView& symbol() const { return *symbol_; }
    const std::optional<PasteFeedback>& latestFeedback() const { return latestFeedback_; }
    std::optional<std::uint32_t> screenID() const { return screenID_; }

private:
    void hide();
    bool reposition();
    void render(const PasteFeedback& feedback);

    std::shared_ptr<PasteOverlayPanel> panel_;
    std::shared_ptr<platform::Label> stageLabel_;
    std::shared_ptr<PasteOverlayActivityIndicator> spinner_;
    std::shared_ptr<platform::ImageView> symbol_;
    std::optional<PasteFeedback> latestFeedback_;
    std::optional<std::uint32_t> screenID_;
    bool isEnabled_;
    Screens screens_;
    Schedule schedule_;
    Present present_;
    std::optional<platform::Uuid> operationID_;
    bool dismissed_ = true;
    std::function<void()> cancelTimer_;
    platform::Uuid timerToken_;
    platform::NotificationObserver screenObserver_;
};

} // namespace tarpelix
