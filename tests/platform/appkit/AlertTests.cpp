#include "platform/appkit/Alert.h"
#include "platform/appkit/AppKitControl.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Events.h"
#include "platform/appkit/SavePanel.h"
#include "platform/appkit/View.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/dispatch/RunLoop.h"

#include <gtest/gtest.h>

using namespace tarpelix::platform;

namespace {

struct AlertTest : ::testing::Test {
    void SetUp() override {
        DesktopControl::reset();
        window = Window::create({100, 100, 480, 300}, WindowStyle::titled | WindowStyle::closable);
        window->makeKeyAndOrderFront();
    }
    void TearDown() override {
        window.reset();
        DesktopControl::reset();
    }

    // A confirmation as the product asks for one: Cancel first (Return), then Clear.
    static std::shared_ptr<Alert> confirmation() {
        auto alert = Alert::create();
        alert->setMessageText("Clear History?");
        alert->setInformativeText("Removes every recorded paste.");
        alert->addButtonWithTitle("Cancel");
        alert->addButtonWithTitle("Clear");
        return alert;
    }

    std::shared_ptr<Window> window;
};

class Clickable : public View {
public:
    using View::View;
    void mouseDown(const MouseEvent&) override { ++clicks; }
    int clicks = 0;
};

TEST_F(AlertTest, ASheetBlocksItsWindowUntilAButtonAnswersItOnce) {
    auto behind = std::make_shared<Clickable>(Rect{0, 0, 480, 300});
    window->contentView()->addSubview(behind);
    std::vector<ModalResponse> responses;
    {
        auto alert = confirmation();
        alert->setAlertStyle(AlertStyle::critical);
        alert->beginSheetModal(*window, [&](ModalResponse r) { responses.push_back(r); });
    } // the sheet keeps the alert alive

    Window* sheet = window->attachedSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->sheetParent(), window.get());
    EXPECT_TRUE(sheet->isKeyWindow());
    const auto contents = AppKitControl::readSheet(*sheet);
    ASSERT_TRUE(contents);
    EXPECT_EQ(contents->kind, SheetContents::Kind::alert);
    EXPECT_EQ(contents->messageText, "Clear History?");
    EXPECT_EQ(contents->informativeText, "Removes every recorded paste.");
    EXPECT_EQ(contents->buttons, (std::vector<std::string>{"Cancel", "Clear"}));
    // Attached below the title bar, centred; the window's own views get no clicks meanwhile.
    EXPECT_DOUBLE_EQ(sheet->frame().maxY(), window->frame().maxY() - Window::titleBarHeight);
    EXPECT_DOUBLE_EQ(sheet->frame().midX(), window->frame().midX());
    window->sendEvent(MouseEvent{.locationInWindow = {5, 5}, .window = window.get()});
    EXPECT_EQ(behind->clicks, 0);
    EXPECT_EQ(AppKitControl::beeps(), 1);
    // A second sheet is refused while one is up.
    auto other = confirmation();
    other->beginSheetModal(*window, [&](ModalResponse r) { responses.push_back(-r); });
    EXPECT_EQ(window->attachedSheet(), sheet);

    EXPECT_FALSE(AppKitControl::pressButton(*sheet, "Delete"));
    EXPECT_TRUE(AppKitControl::pressButton(*sheet, "Clear"));
    EXPECT_EQ(responses, (std::vector<ModalResponse>{ModalResponses::alertSecondButtonReturn}));
    EXPECT_EQ(window->attachedSheet(), nullptr);
    EXPECT_TRUE(window->isKeyWindow());
    window->sendEvent(MouseEvent{.locationInWindow = {5, 5}, .window = window.get()});
    EXPECT_EQ(behind->clicks, 1);
}

TEST_F(AlertTest, ReturnPressesTheFirstButtonAndEscapeOnlyACancelButton) {
    struct Case {
        std::vector<std::string> buttons;
        std::uint16_t key;
        std::optional<ModalResponse> response;
    };
    const Case cases[] = {
        {{"OK"}, KeyCode::returnKey, ModalResponses::alertFirstButtonReturn},
        {{"Save", "Cancel"}, KeyCode::escape, ModalResponses::alertSecondButtonReturn},
        {{"Save", "Don’t Save", "Cancel"}, KeyCode::escape, ModalResponses::alertThirdButtonReturn},
        {{"Save", "Don’t Save"}, KeyCode::escape, std::nullopt}, // nothing answers Escape
        {{"Cancel", "Clear"}, KeyCode::returnKey, ModalResponses::alertFirstButtonReturn},
    };
    for (const auto& c : cases) {
        auto alert = Alert::create();
        alert->setMessageText("Message");
        for (const auto& title : c.buttons) alert->addButtonWithTitle(title);
        std::optional<ModalResponse> response;
        alert->beginSheetModal(*window, [&](ModalResponse r) { response = r; });
        ASSERT_NE(window->attachedSheet(), nullptr);
        EXPECT_EQ(AppKitControl::pressKey(*window->attachedSheet(), c.key), c.response.has_value()) << c.buttons[0];
        EXPECT_EQ(response, c.response) << c.buttons.size();
        if (window->attachedSheet()) {
            EXPECT_TRUE(AppKitControl::pressButton(*window->attachedSheet(), c.buttons[0]));
        }
    }
}

TEST_F(AlertTest, AModalAlertRunsTheMainLoopUntilAnsweredAndReturnsTheResponse) {
    // Answered by Escape from a block the nested run of the main loop runs.
    bool sawAlert = false;
    RunLoop::main()->perform([&] {
        Window* modal = AppKitControl::modalWindow();
        ASSERT_NE(modal, nullptr);
        sawAlert = modal->isKeyWindow() && modal->level() == WindowLevels::modalPanel;
        EXPECT_EQ(AppKitControl::readSheet(*modal)->buttons, (std::vector<std::string>{"OK", "Cancel"}));
        EXPECT_TRUE(AppKitControl::pressKey(*modal, KeyCode::escape));
    });
    auto alert = Alert::create();
    alert->setMessageText("Updates Unavailable");
    alert->addButtonWithTitle("OK");
    alert->addButtonWithTitle("Cancel");
    EXPECT_EQ(alert->runModal(), ModalResponses::alertSecondButtonReturn);
    EXPECT_TRUE(sawAlert);
    EXPECT_EQ(AppKitControl::modalWindow(), nullptr);

    // An alert without buttons gets OK.
    RunLoop::main()->perform([] { EXPECT_TRUE(AppKitControl::pressButton(*AppKitControl::modalWindow(), "OK")); });
    EXPECT_EQ(Alert::create()->runModal(), ModalResponses::alertFirstButtonReturn);
}

TEST_F(AlertTest, AnUnansweredModalAlertStopsTheProcessWithAMessage) {
    EXPECT_DEATH(
        {
            AppKitControl::setModalWaitSeconds(0.05);
            auto alert = Alert::create();
            alert->setMessageText("Updates Unavailable");
            alert->runModal();
        },
        "modal alert \\(\"Updates Unavailable\"\\) is up and nothing answered it");
}

TEST_F(AlertTest, ASavePanelSheetAnswersWithAPathOrCancels) {
    const auto present = [&](std::optional<std::filesystem::path>& url, ModalResponse& response) {
        auto panel = SavePanel::create();
        panel->setTitle("Save Diagnostic Report");
        panel->setNameFieldStringValue("Tarpelix-Diagnostic-Report.txt");
        panel->setAllowedContentTypes({ContentType::plainText});
        panel->setCanCreateDirectories(true);
        panel->setDirectoryURL("/home/developer");
        panel->beginSheetModal(*window, [panel, &url, &response](ModalResponse r) {
            response = r;
            url = panel->url();
        });
    };
    std::optional<std::filesystem::path> url;
    ModalResponse response = -1;
    present(url, response);
    Window* sheet = window->attachedSheet();
    ASSERT_NE(sheet, nullptr);
    const auto keep = sheet->shared_from_this(); // read after it ended
    const auto contents = AppKitControl::readSheet(*sheet);
    ASSERT_TRUE(contents);
    EXPECT_EQ(contents->kind, SheetContents::Kind::savePanel);
    EXPECT_EQ(contents->title, "Save Diagnostic Report");
    EXPECT_EQ(contents->nameFieldValue, "Tarpelix-Diagnostic-Report.txt");
    EXPECT_EQ(contents->allowedContentTypes, (std::vector<std::string>{"public.plain-text"}));
    EXPECT_TRUE(contents->canCreateDirectories);
    EXPECT_EQ(contents->directory, "/home/developer");
    EXPECT_EQ(contents->buttons, (std::vector<std::string>{"Save", "Cancel"}));
    // A name without the type's extension gets it.
    EXPECT_TRUE(AppKitControl::answerSavePanel(*sheet, std::filesystem::path("/tmp/reports/today")));
    EXPECT_EQ(response, ModalResponses::OK);
    EXPECT_EQ(url, std::filesystem::path("/tmp/reports/today.txt"));
    EXPECT_EQ(window->attachedSheet(), nullptr);
    EXPECT_FALSE(AppKitControl::answerSavePanel(*sheet, std::nullopt)); // no longer up

    // Return saves under the proposed name; Cancel (or Escape) gives no URL.
    present(url, response);
    EXPECT_TRUE(AppKitControl::pressKey(*window->attachedSheet(), KeyCode::returnKey));
    EXPECT_EQ(url, std::filesystem::path("/home/developer/Tarpelix-Diagnostic-Report.txt"));
    present(url, response);
    EXPECT_TRUE(AppKitControl::answerSavePanel(*window->attachedSheet(), std::nullopt));
    EXPECT_EQ(response, ModalResponses::cancel);
    EXPECT_EQ(url, std::nullopt);
    present(url, response);
    EXPECT_TRUE(AppKitControl::pressKey(*window->attachedSheet(), KeyCode::escape));
    EXPECT_EQ(response, ModalResponses::cancel);

    // A window that goes away takes its sheet with it, unanswered.
    response = -1;
    present(url, response);
    const std::weak_ptr<Responder> up = window->attachedSheet()->weak_from_this();
    window.reset();
    EXPECT_TRUE(up.expired());
    EXPECT_EQ(response, -1);
}

} // namespace
