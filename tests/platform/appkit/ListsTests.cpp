#include "platform/appkit/AppKitControl.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Label.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/MenuItem.h"
#include "platform/appkit/ScreenReader.h"
#include "platform/appkit/ScrollView.h"
#include "platform/appkit/TableView.h"
#include "platform/appkit/TextView.h"
#include "platform/appkit/Window.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/desktop/Pasteboard.h"
#include "platform/desktop/PasteboardControl.h"

#include <gtest/gtest.h>

using namespace tarpelix::platform;

namespace {

constexpr std::uint16_t keyA = 0, keyC = 8, downArrow = 125, upArrow = 126;

struct Sections final : TableViewDataSource, TableViewDelegate {
    std::vector<std::string> titles{"General", "Permissions", "Dashboard", "Storage", "Diagnostics"};
    std::set<int> refused;
    int changes = 0;
    int numberOfRows(TableView&) override { return int(titles.size()); }
    std::shared_ptr<View> viewFor(TableView&, const TableColumn*, int row) override {
        auto cell = TableCellView::create();
        auto label = Label::labelWithString(titles[std::size_t(row)]);
        label->setFrame({8, 4, 120, 18});
        cell->addSubview(label);
        cell->setTextField(label);
        return cell;
    }
    bool shouldSelectRow(TableView&, int row) override { return !refused.count(row); }
    void tableViewSelectionDidChange(TableView&) override { ++changes; }
};

struct ListsTest : ::testing::Test {
    void SetUp() override { DesktopControl::reset(); }
    void TearDown() override { DesktopControl::reset(); }

    std::shared_ptr<Window> frontWindow(std::shared_ptr<View> view) {
        auto window = Window::create({0, 0, 400, 300}, WindowStyle::titled);
        window->setTitle("Lists");
        window->contentView()->addSubview(std::move(view));
        window->makeKeyAndOrderFront();
        Application::shared().activate();
        return window;
    }

    // A source-list table of the sections in a scroll view filling a window.
    std::shared_ptr<TableView> sectionTable(const std::shared_ptr<Sections>& sections, std::shared_ptr<Window>& window) {
        auto table = TableView::create();
        table->addTableColumn({"section"});
        table->setStyle(TableViewStyle::sourceList);
        table->setRowHeight(42);
        table->setIntercellSpacing({0, 4});
        table->setDataSource(sections);
        table->setDelegate(sections);
        auto scrollView = ScrollView::create({0, 0, 200, 300});
        scrollView->setDocumentView(table);
        window = frontWindow(scrollView);
        table->reloadData();
        return table;
    }

    // Reads the general pasteboard as a test, allowed without a prompt.
    static std::string pasteboardText() {
        DesktopControl::setPasteboardAccessBehavior(int(PasteboardAccessBehavior::alwaysAllow));
        auto data = Pasteboard::general().dataForType(PasteboardType::string);
        return data ? std::string(data->begin(), data->end()) : std::string("<none>");
    }
};

TEST_F(ListsTest, ProgrammaticSelectionTellsTheDelegateOncePerChange) {
    auto sections = std::make_shared<Sections>();
    std::shared_ptr<Window> window;
    auto table = sectionTable(sections, window);

    table->selectRowIndexes({2}, false);
    EXPECT_EQ(sections->changes, 1);
    EXPECT_EQ(table->selectedRow(), 2);
    table->selectRowIndexes({2}, false); // unchanged: no call
    EXPECT_EQ(sections->changes, 1);
    sections->refused = {3}; // the program's selection is not the user's: not asked
    table->selectRowIndexes({3, 4}, false); // one row at most
    EXPECT_EQ(sections->changes, 2);
    EXPECT_EQ(table->selectedRowIndexes(), (std::set<int>{3}));
    table->selectRowIndexes({9}, false); // out of range: nothing to select
    EXPECT_EQ(table->selectedRow(), -1);
    EXPECT_EQ(sections->changes, 3);
}

TEST_F(ListsTest, ClickAndArrowKeysSelectRowsTheDelegateAllows) {
    auto sections = std::make_shared<Sections>();
    std::shared_ptr<Window> window;
    auto table = sectionTable(sections, window);
    EXPECT_EQ(table->rectOfRow(1), (Rect{0, 46, 200, 46}));

    AppKitControl::click(*table->rowView(1));
    EXPECT_EQ(table->selectedRow(), 1);
    EXPECT_EQ(window->firstResponder(), table.get());
    EXPECT_EQ(sections->changes, 1);

    sections->refused = {2};
    AppKitControl::typeKey(downArrow);
    EXPECT_EQ(table->selectedRow(), 3) << "the refused row is skipped";
    AppKitControl::typeKey(upArrow);
    EXPECT_EQ(table->selectedRow(), 1);
    AppKitControl::typeKey(upArrow);
    AppKitControl::typeKey(upArrow); // at the top: stays
    EXPECT_EQ(table->selectedRow(), 0);
    EXPECT_EQ(sections->changes, 4);

    const auto lines = ScreenReader::read(*window);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "General, selected"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Storage"), lines.end());
}

TEST_F(ListsTest, CommandAThenCommandCCopiesTheWholeTextAndCopyNeedsASelection) {
    auto textView = TextView::create({0, 0, 300, 200});
    textView->setString("Outcome: Uploaded\nPath: /tmp/tarpelix/é.png");
    auto window = frontWindow(textView);
    window->makeFirstResponder(textView.get());
    auto menu = Menu::create("Edit");
    auto copyItem = menu->addItem("Copy", StandardAction::copy, "c");
    menu->addItem("Select All", StandardAction::selectAll, "a");
    Application::shared().setMainMenu(nullptr);

    menu->update();
    EXPECT_FALSE(copyItem->isEnabled());
    Pasteboard::general().clearContents();
    AppKitControl::typeKey(keyC, "c", EventFlag::command);
    EXPECT_EQ(pasteboardText(), "<none>");

    AppKitControl::typeKey(keyA, "a", EventFlag::command | EventFlag::alphaShift); // not exactly Command
    EXPECT_EQ(textView->selectedRange().length, 0u);
    AppKitControl::typeKey(keyA, "a", EventFlag::command);
    EXPECT_EQ(textView->selectedRange(), (TextRange{0, textView->textStorage().length()}));
    menu->update();
    EXPECT_TRUE(copyItem->isEnabled());
    AppKitControl::typeKey(keyC, "c", EventFlag::command);
    EXPECT_EQ(pasteboardText(), "Outcome: Uploaded\nPath: /tmp/tarpelix/é.png");

    // Through the main menu the same actions reach the text view up the chain.
    Pasteboard::general().clearContents();
    textView->setString("Replaced");
    Application::shared().setMainMenu(menu);
    AppKitControl::typeKey(keyA, "a", EventFlag::command);
    AppKitControl::typeKey(keyC, "c", EventFlag::command);
    EXPECT_EQ(pasteboardText(), "Replaced");
    Application::shared().setMainMenu(nullptr);
}

TEST_F(ListsTest, UsedHeightFollowsTheContainerWidthInsetsAndPadding) {
    auto textView = TextView::create({0, 0, 400, 10});
    textView->setFont(Font::systemFont(13));
    textView->setString("Copy an image, press Control+V, and its path appears in your remote terminal’s input line.");
    textView->textContainer().setWidthTracksTextView(false);
    textView->textContainer().setLineFragmentPadding(0);
    textView->textContainer().setSize({TextContainer::unbounded, TextContainer::unbounded});
    const Rect oneLine = textView->usedRect();
    textView->textContainer().setSize({200, TextContainer::unbounded});
    const Rect narrow = textView->usedRect();
    textView->textContainer().setSize({100, TextContainer::unbounded});
    const Rect narrower = textView->usedRect();
    EXPECT_GT(oneLine.width(), 400);
    EXPECT_LE(narrow.width(), 200);
    EXPECT_GT(narrow.height(), oneLine.height());
    EXPECT_GT(narrower.height(), narrow.height());

    // Padding narrows the lines and is counted in the used width.
    textView->textContainer().setLineFragmentPadding(5);
    EXPECT_GE(textView->usedRect().height(), narrower.height());
    EXPECT_LE(textView->usedRect().width(), 100);
}

TEST_F(ListsTest, ScrollersShowOnlyWhenTheDocumentIsLargerAndScrollToTopShowsTheStart) {
    for (const auto style : {ScrollerStyle::overlay, ScrollerStyle::legacy}) {
        SCOPED_TRACE(style == ScrollerStyle::overlay ? "overlay" : "legacy");
        auto scrollView = ScrollView::create({0, 0, 300, 200});
        scrollView->setScrollerStyle(style);
        scrollView->setAutohidesScrollers(true);
        scrollView->setHasVerticalScroller(true);
        scrollView->setHasHorizontalScroller(true);
        scrollView->setBorderType(BorderType::lineBorder);
        auto textView = TextView::create();
        textView->setString("short");
        scrollView->setDocumentView(textView);
        EXPECT_FALSE(scrollView->isVerticalScrollerShown());
        EXPECT_FALSE(scrollView->isHorizontalScrollerShown());
        EXPECT_EQ(scrollView->contentSize(), (Size{298, 198})) << "inside the border";

        std::string lines;
        for (int i = 0; i < 40; ++i) lines += "line " + std::to_string(i) + "\n";
        textView->setString(lines);
        EXPECT_TRUE(scrollView->isVerticalScrollerShown());
        EXPECT_FALSE(scrollView->isHorizontalScrollerShown()) << "the container tracks the width";
        const double legacyBand = style == ScrollerStyle::legacy ? Scroller::legacyWidth : 0;
        EXPECT_EQ(scrollView->contentSize().width, 298 - legacyBand);
        EXPECT_EQ(textView->frame().width(), 298 - legacyBand);

        // Not wrapping: a long line scrolls horizontally.
        textView->textContainer().setWidthTracksTextView(false);
        textView->setString(lines + std::string(120, 'x'));
        EXPECT_TRUE(scrollView->isHorizontalScrollerShown());
        EXPECT_GT(textView->frame().width(), scrollView->contentSize().width);

        scrollView->scroll({50, 400});
        EXPECT_NE(scrollView->documentVisibleRect().minY(), 0);
        EXPECT_GT(scrollView->verticalScroller().doubleValue(), 0);
        scrollView->scrollToTop();
        EXPECT_EQ(scrollView->documentVisibleRect().minY(), 0);
        EXPECT_EQ(scrollView->verticalScroller().doubleValue(), 0);
        EXPECT_LT(scrollView->verticalScroller().knobProportion(), 1);
    }
}

TEST_F(ListsTest, AnUnflippedDocumentShorterThanTheViewSitsAtTheTop) {
    auto scrollView = ScrollView::create({0, 0, 100, 100});
    scrollView->setDocumentView(View::create({0, 0, 100, 300}));
    scrollView->scrollToTop();
    EXPECT_EQ(scrollView->documentVisibleRect(), (Rect{0, 200, 100, 100}));
    scrollView->documentView()->setFrame({0, 0, 100, 40});
    scrollView->reflectScrolledClipView(scrollView->contentView());
    EXPECT_EQ(scrollView->documentVisibleRect(), (Rect{0, -60, 100, 100}));
}

} // namespace
