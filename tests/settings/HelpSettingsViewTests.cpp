#include "settings/HelpSettingsView.h"
#include "settings/SettingsPageHost.h"

#include "platform/appkit/AppKitControl.h"
#include "platform/appkit/RecordingContext.h"
#include "platform/appkit/ScreenReader.h"
#include "platform/desktop/DesktopControl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

using namespace tarpelix;
using namespace tarpelix::platform;
using namespace tarpelix::testing;
using Destination = OfflineHelp::Destination;

namespace {

std::string stored(const std::string& name) {
    std::ifstream file(std::string(TARPELIX_SOURCE_DIR) + "/tests/settings/data/" + name);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines)
        text += line + "\n";
    return text;
}

class HelpPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        DesktopControl::reset();
        page = HelpSettingsView::create([this](Destination destination) { visited.push_back(destination); });
    }
    void TearDown() override { DesktopControl::reset(); }

    std::shared_ptr<Window> host(double height = 800) { return hostPage({page}, 651, height); }
    HelpTopicView& topic(const std::string& title) {
        for (const auto& topic : page->topics()) {
            if (topic->section().title == title) return *topic;
        }
        throw std::out_of_range(title);
    }

    std::shared_ptr<HelpSettingsView> page;
    std::vector<Destination> visited;
};

} // namespace

TEST_F(HelpPageTest, TheScreenReaderReadsEveryTopicCollapsedAndExpanded) {
    auto window = host();
    EXPECT_EQ(joined(ScreenReader::read(*window)), stored("help-collapsed.txt"));

    // A page opened out of a window, but for its last topic, which a click opens in place.
    page = HelpSettingsView::create([](Destination) {});
    for (const auto& topic : page->topics()) {
        if (topic != page->topics().back()) topic->toggle();
    }
    window = host(3600);
    page->topics().back()->disclosureButton().performClick();
    EXPECT_EQ(joined(ScreenReader::read(*window)), stored("help-expanded.txt"));
    const auto notifications = AppKitControl::accessibilityNotifications();
    ASSERT_FALSE(notifications.empty());
    EXPECT_EQ(notifications.back(),
              (AppKitControl::AccessibilityNotificationRecord{"Setup & updates", "AXLayoutChanged"}));
    EXPECT_TRUE(window->layoutIssues().empty());

    // The topics card draws ten separator lines, one between each two topics, under the titles.
    RecordingContext recording = window->record();
    const RGBA separator = Color::separatorColor().resolved();
    const double cardWidth = page->topics().front()->frame().width();
    std::size_t lines = 0;
    for (const auto& operation : recording.operations()) {
        const auto* fill = std::get_if<drawing::Fill>(&operation);
        if (!fill || !(fill->color == separator)) continue;
        const Rect bounds = fill->path.bounds();
        if (bounds.height() == 1 && bounds.width() == cardWidth - 56 - 20) ++lines;
    }
    EXPECT_EQ(lines, OfflineHelp::sections().size() - 1);
}

TEST_F(HelpPageTest, BodiesSetCodeTermsInTheCodeFontAndSpaceTheirParagraphs) {
    const Font code = InterfaceStyle::Font::code();
    std::size_t checked = 0;
    for (const auto& topic : page->topics()) {
        SCOPED_TRACE(topic->section().title);
        const AttributedString& text = topic->bodyLabel().attributedStringValue();
        EXPECT_EQ(text.string().find("\n\n"), std::string::npos);
        for (const auto& run : text.runs()) {
            ASSERT_TRUE(run.attributes.paragraphStyle);
            EXPECT_EQ(run.attributes.paragraphStyle->lineSpacing, 3);
            EXPECT_EQ(run.attributes.paragraphStyle->paragraphSpacing, 12);
        }
        for (const auto& term : topic->section().code) {
            std::size_t from = 0, found = 0;
            while (auto range = text.rangeOf(term, from)) {
                for (const auto& run : text.runs()) {
                    if (run.range.location < range->end() && range->location < run.range.end()) {
                        EXPECT_EQ(run.attributes.font, code) << term;
                    }
                }
                from = range->end();
                ++found;
            }
            EXPECT_GT(found, 0u) << term;
            checked += found;
        }
        // Text outside the terms keeps the body font.
        const bool anyCode = std::any_of(text.runs().begin(), text.runs().end(),
                                         [&](const auto& run) { return run.attributes.font == code; });
        EXPECT_EQ(anyCode, !topic->section().code.empty());
    }
    // Every occurrence counts: "~/.ssh/config" is in two paragraphs of one topic.
    EXPECT_EQ(checked, 12u);
}

TEST_F(HelpPageTest, AClickAnywhereOnAHeaderTogglesItsTopic) {
    auto window = host();
    auto& remote = topic("Check your remote connection");
    auto& header = remote.disclosureButton();
    auto& row = static_cast<StackView&>(*header.subviews().front());
    const View& icon = *row.arrangedSubviews().front();
    EXPECT_FALSE(remote.isExpanded());

    const View* title = &header.titleLabel();
    const View* chevron = &header.chevron();
    bool expanded = false;
    for (const View* part : {&icon, title, chevron}) {
        AppKitControl::click(*part);
        expanded = !expanded;
        EXPECT_EQ(remote.isExpanded(), expanded);
        EXPECT_EQ(
            header.chevron().image()->symbolName(),
            rawValue(expanded ? InterfaceIcon::disclosureExpanded : InterfaceIcon::disclosureCollapsed));
        EXPECT_EQ(header.isAccessibilityExpanded(), expanded);
    }
    EXPECT_FALSE(topic("About Tarpelix").isExpanded());
}

TEST_F(HelpPageTest, DestinationButtonsShowWhenExpandedJoinTabOrderAndNavigate) {
    auto window = host(2400);
    std::vector<std::string> titles;
    for (Button* button : page->navigationButtons())
        titles.push_back(button->title());
    EXPECT_EQ(titles, (std::vector<std::string>{"Open Permissions", "Open Storage", "Open Diagnostics",
                                                "Open General"}));

    const std::pair<const char*, Destination> expected[] = {
        {"Permissions", Destination::permissions},
        {"Storage & privacy", Destination::storage},
        {"Diagnostics", Destination::diagnostics},
        {"Setup & updates", Destination::general},
    };
    for (const auto& [title, destination] : expected) {
        SCOPED_TRACE(title);
        auto& shown = topic(title);
        Button* button = shown.navigationButton();
        ASSERT_NE(button, nullptr);
        auto loop = window->keyViewLoop();
        EXPECT_EQ(std::find(loop.begin(), loop.end(), button), loop.end());

        shown.toggle();
        loop = window->keyViewLoop();
        auto header = std::find(loop.begin(), loop.end(), &shown.disclosureButton());
        ASSERT_NE(header, loop.end());
        ASSERT_NE(header + 1, loop.end());
        EXPECT_EQ(header[1], button); // Tab from the header reaches the button next

        visited.clear();
        button->performClick();
        EXPECT_EQ(visited, std::vector<Destination>{destination});
    }
    for (const auto& topic : page->topics()) {
        if (topic->section().destination) continue;
        EXPECT_EQ(topic->navigationButton(), nullptr) << topic->section().title;
        topic->openDestination();
    }
    EXPECT_EQ(visited, std::vector<Destination>{Destination::general}); // only the last click
}
