#include "windows/DashboardView.h"

#include "platform/appkit/Path.h"
#include "platform/appkit/RecordingContext.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/desktop/SystemSettingsControl.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tarpelix {
namespace {

using namespace platform;

constexpr const char* dash = "\u2014";

struct DashboardViewTest : ::testing::Test {
    void SetUp() override {
        DesktopControl::reset();
        DesktopControl::setLocaleIdentifier("en_US");
        DesktopControl::setTimeZone(TimeZone{"UTC"});
    }
    void TearDown() override { DesktopControl::reset(); }

    std::shared_ptr<DashboardView> view = DashboardView::create([](const URL&) { return true; });
};

PasteUsage usage(std::int64_t pastes, std::int64_t machines, std::int64_t days, std::optional<Date> first) {
    return {.successfulPastes = pastes, .remoteMachines = machines, .activeDays = days, .firstPasteAt = first};
}

// Every shown figure and what the screen reader says for it.
std::vector<std::string> figures(const DashboardView& v) {
    std::vector<std::string> shown;
    for (Label* label : {&v.timeLabel(), &v.pastesLabel(), &v.daysLabel(), &v.sinceLabel()}) {
        shown.push_back(label->stringValue() + " | " + label->accessibilityLabel());
    }
    shown.push_back(v.summaryLabel().stringValue());
    return shown;
}

TEST_F(DashboardViewTest, DurationTextInTheDesktopsLocale) {
    const std::vector<std::pair<std::int64_t, std::string>> cases = {
        {0, "0 seconds"},           {1, "1 second"},           {10, "10 seconds"},         {59, "59 seconds"},
        {60, "1 minute"},           {90, "1 minute"},          {3599, "59 minutes"},       {3600, "1 hour"},
        {3660, "1 hour, 1 minute"}, {3659, "1 hour"},      {7260, "2 hours, 1 minute"}, {7319, "2 hours, 1 minute"},
        {10000000, "2,777 hours, 46 minutes"},
    };
    for (const auto& [seconds, expected] : cases) EXPECT_EQ(DashboardView::durationText(seconds), expected) << seconds;

    // Only hours are grouped: the minutes and seconds stay plain numbers.
    DesktopControl::setLocaleIdentifier("de_DE");
    EXPECT_EQ(DashboardView::durationText(10000000), "2.777 hours, 46 minutes");
    EXPECT_EQ(DashboardView::durationText(3599), "59 minutes");
}

TEST_F(DashboardViewTest, BeforeTheFirstUpdateEveryFigureIsADash) {
    EXPECT_EQ(view->timeTitleLabel().stringValue(), "Time saved");
    EXPECT_EQ(figures(*view), (std::vector<std::string>{std::string(dash) + " | ", std::string(dash) + " | ",
                                                        std::string(dash) + " | ", std::string(dash) + " | ",
                                                        "Loading your stats\u2026"}));
    EXPECT_TRUE(view->actionStatus().isHidden());
}

TEST_F(DashboardViewTest, UpdateFillsEveryFigureAndItsSpokenLabel) {
    const Date lateInUTC{789089400}; // 2026-01-02 23:30 UTC
    const std::vector<std::pair<PasteUsage, std::vector<std::string>>> cases = {
        {usage(0, 0, 0, std::nullopt),
         {"0 seconds | Estimated time saved: 0 seconds", "0 | 0 successful pastes", "0 | 0 days used",
          std::string(dash) + " | No successful pastes yet", "Your first paste starts here."}},
        {usage(1, 1, 1, lateInUTC),
         {"10 seconds | Estimated time saved: 10 seconds", "1 | 1 successful pastes", "1 | 1 days used",
          "Jan 2, 2026 | Using since Jan 2, 2026", "1 remote image paste across 1 machine"}},
        {usage(12, 3, 2, lateInUTC),
         {"2 minutes | Estimated time saved: 2 minutes", "12 | 12 successful pastes", "2 | 2 days used",
          "Jan 2, 2026 | Using since Jan 2, 2026", "12 remote image pastes across 3 machines"}},
        {usage(1000000, 1200, 1500, lateInUTC),
         {"2,777 hours, 46 minutes | Estimated time saved: 2,777 hours, 46 minutes", "1,000,000 | 1,000,000 successful pastes",
          "1,500 | 1,500 days used", "Jan 2, 2026 | Using since Jan 2, 2026",
          "1,000,000 remote image pastes across 1,200 machines"}},
    };
    for (const auto& [value, expected] : cases) {
        view->update(value);
        EXPECT_EQ(figures(*view), expected) << value.successfulPastes;
    }

    // The date is the desktop's day in its zone, in its locale.
    DesktopControl::setTimeZone(TimeZone{"Europe/Berlin"});
    DesktopControl::setLocaleIdentifier("de_DE");
    view->update(usage(12, 3, 2, lateInUTC));
    EXPECT_EQ(view->sinceLabel().stringValue(), "3. Jan. 2026");
    EXPECT_EQ(view->sinceLabel().accessibilityLabel(), "Using since 3. Jan. 2026");
}

TEST_F(DashboardViewTest, TheTimeSetsValuesLargeAndUnitsSmall) {
    view->update(usage(366, 1, 1, std::nullopt)); // 3,660 seconds
    const AttributedString& time = view->timeLabel().attributedStringValue();
    ASSERT_EQ(time.string(), "1 hour, 1 minute");
    const auto at = [&](std::size_t index) { return time.attributes(index); };
    const Font value = Font::monospacedDigitSystemFont(40, FontWeight::semibold);
    const Font unit = Font::systemFont(22, FontWeight::medium);
    EXPECT_EQ(at(0).font, value);                        // "1"
    EXPECT_EQ(at(1).font, unit);                         // " hour"
    EXPECT_EQ(at(6).font, unit);                         // ", "
    EXPECT_EQ(at(8).font, value);                        // "1"
    EXPECT_EQ(at(6).foregroundColor, Color::secondaryLabelColor());
    EXPECT_NE(at(8).foregroundColor, Color::secondaryLabelColor());
    for (const auto& run : time.runs()) {
        ASSERT_TRUE(run.attributes.paragraphStyle);
        EXPECT_EQ(run.attributes.paragraphStyle->lineSpacing, 4);
        EXPECT_EQ(run.attributes.paragraphStyle->lineBreakStrategy, LineBreakStrategy::pushOut);
    }
}

TEST_F(DashboardViewTest, MissingUsageShowsDashesAfterAnEarlierUpdate) {
    view->update(usage(12, 3, 2, Date{789089400}));
    view->update(std::nullopt);
    const std::string unavailable = std::string(dash) + " | Stats unavailable";
    EXPECT_EQ(figures(*view), (std::vector<std::string>{unavailable, unavailable, unavailable, unavailable,
                                                        "Your stats are currently unavailable."}));
    // The plain dash keeps none of the duration's styling.
    EXPECT_EQ(view->timeLabel().attributedStringValue().runs().size(), 1u);
}

TEST_F(DashboardViewTest, ALinkRowDrawsOnlyWhilePressedAndRingsItsRoundedBounds) {
    DashboardLinkButton& row = view->supportButton();
    row.setFrame({0, 0, 300, LinkRowButton::rowHeight});
    const Path rounded = Path::roundedRect(row.bounds(), 12, 12);
    const auto drawn = [&row] {
        RecordingContext recording({300, LinkRowButton::rowHeight});
        row.draw(recording, row.bounds());
        return recording.operations();
    };
    EXPECT_TRUE(drawn().empty());
    row.highlight(true);
    const auto pressed = drawn();
    ASSERT_EQ(pressed.size(), 1u);
    const auto& wash = std::get<drawing::Fill>(pressed[0]);
    EXPECT_EQ(wash.path, rounded);
    EXPECT_EQ(wash.color.alpha, 0.1);

    RecordingContext ring({300, LinkRowButton::rowHeight});
    row.drawFocusRingMask(ring);
    ASSERT_EQ(ring.operations().size(), 1u);
    EXPECT_EQ(std::get<drawing::FocusRingMask>(ring.operations()[0]).path, rounded);
    EXPECT_EQ(row.focusRingType(), FocusRingType::exterior);
}

} // namespace
} // namespace tarpelix
