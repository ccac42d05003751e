#pragma once

#include "model/PasteFeedback.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/foundation/Uuid.h"
#include "windows/PasteOverlayController.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarpelix::testing {

// A controller on displays the test sets, with a schedule that records each timer (its seconds,
// its action and whether it was cancelled) for the test to fire, and a present that records
// what each drawing showed before presenting for real.
struct OverlayFixture : ::testing::Test {
    struct Timer {
        double seconds = 0;
        std::function<void()> action;
        bool cancelled = false;
    };

    // 1440 × 900 with the menu bar: the overlay goes to 588, 24.
    static inline const PasteOverlayScreen primary{1, {0, 0, 1440, 900}, {0, 0, 1440, 875}};
    static constexpr platform::Rect onPrimary{80, 60, 960, 640};
    static constexpr platform::Rect shownFrame{588, 24, 264, 44};

    std::vector<PasteOverlayScreen> screens{primary};
    std::vector<Timer> timers;
    std::vector<std::string> drawn;
    std::shared_ptr<PasteOverlayController> overlay;
    platform::Uuid a = platform::Uuid::random();
    platform::Uuid b = platform::Uuid::random();

    void SetUp() override {
        platform::DesktopControl::reset();
        overlay = make(true);
    }
    void TearDown() override {
        overlay.reset();
        platform::DesktopControl::reset();
    }

    std::shared_ptr<PasteOverlayController> make(bool enabled) {
        auto schedule = [this](double seconds, std::function<void()> action) -> std::function<void()> {
            const std::size_t index = timers.size();
            timers.push_back({seconds, std::move(action), false});
            return [this, index] { timers[index].cancelled = true; };
        };
        auto present = [this](platform::Panel& panel) {
            drawn.push_back(overlay->stageLabel().stringValue());
            PasteOverlayController::presentPanel(panel);
        };
        return PasteOverlayController::create(enabled, [this] { return screens; }, schedule, present);
    }

    static PasteFeedback feedback(const platform::Uuid& id, PasteFeedback::Stage stage,
                                  std::optional<PasteFeedback::Outcome> outcome = std::nullopt,
                                  std::optional<std::string> explanation = std::nullopt, bool revision = false) {
        PasteFeedback f;
        f.operationID = id;
        f.stage = stage;
        f.outcome = outcome;
        f.explanation = std::move(explanation);
        f.isRevision = revision;
        return f;
    }

    bool shown() const { return overlay->panel().isVisible(); }
};

} // namespace tarpelix::testing
