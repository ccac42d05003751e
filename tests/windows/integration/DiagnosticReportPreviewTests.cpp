#include "windows/DiagnosticReportPreviewController.h"

#include "platform/appkit/AppKitControl.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Events.h"
#include "platform/appkit/Label.h"
#include "platform/appkit/SavePanel.h"
#include "platform/appkit/ScreenReader.h"
#include "platform/appkit/TextView.h"
#include "platform/appkit/TitleBar.h"
#include "platform/desktop/DesktopControl.h"
#include "support/MainLoop.h"
#include "support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <thread>

using namespace tarpelix;
using namespace tarpelix::testing;
namespace KeyCode = platform::KeyCode;
namespace AppKitControl = platform::AppKitControl;
namespace DesktopControl = platform::DesktopControl;

namespace {

// A report with a line far wider than the window and text beyond ASCII.
const std::string reportText = "Tarpelix Diagnostic Report\nApp version: 1.2.3\n\nRedacted timeline (UTC)\n" +
                               std::string(40, '-') + " | " + std::string(300, 'x') +
                               "\nDone \u2014 caf\u00e9\n";

struct DiagnosticReportPreviewTest : ::testing::Test {
    TemporaryDirectory directory{"tarpelix-report"};
    int closes = 0;

    void SetUp() override { DesktopControl::reset(); }
    void TearDown() override { DesktopControl::reset(); }

    std::shared_ptr<DiagnosticReportPreviewController>
    show(DiagnosticReportPreviewController::ChooseSaveURL choose = {},
         DiagnosticReportPreviewController::WriteReport write = {}) {
        auto controller =
            DiagnosticReportPreviewController::create(reportText, std::move(choose), std::move(write));
        controller->setDidClose([this] { ++closes; });
        controller->showWindow();
        return controller;
    }

    // Every control a user could close or save with is enabled (or not), and the window is open.
    static void expectControls(DiagnosticReportPreviewController& controller, bool enabled) {
        EXPECT_EQ(controller.saveButton().isEnabled(), enabled);
        EXPECT_EQ(controller.cancelButton().isEnabled(), enabled);
        EXPECT_EQ(controller.window().standardWindowButton(platform::WindowButtonKind::close)->isEnabled(),
                  enabled);
        EXPECT_TRUE(controller.window().isVisible());
    }

    // Every way of closing the window a user has, none of which may work while saving.
    void tryToClose(DiagnosticReportPreviewController& controller) {
        AppKitControl::typeKey(KeyCode::escape, "\x1b");
        controller.window().displayIfNeeded(); // the title bar's buttons in place
        AppKitControl::click(*controller.window().standardWindowButton(platform::WindowButtonKind::close));
        controller.window().performClose();
        controller.cancel();
        EXPECT_TRUE(controller.window().isVisible());
        EXPECT_EQ(closes, 0);
    }
};

TEST_F(DiagnosticReportPreviewTest, ReturnAsksWhereAndSavesExactlyTheShownText) {
    auto controller = show();
    EXPECT_EQ(controller->textView().string(), reportText);
    EXPECT_EQ(controller->window().firstResponder(), &controller->textView());

    // Cancelling the panel is no error.
    AppKitControl::typeKey(KeyCode::returnKey, "\r");
    auto* sheet = controller->window().attachedSheet();
    ASSERT_TRUE(sheet);
    auto contents = AppKitControl::readSheet(*sheet);
    ASSERT_TRUE(contents);
    EXPECT_EQ(contents->kind, platform::SheetContents::Kind::savePanel);
    EXPECT_EQ(contents->title, "Save Diagnostic Report");
    EXPECT_EQ(contents->nameFieldValue, "Tarpelix-Diagnostic-Report.txt");
    EXPECT_EQ(contents->allowedContentTypes, std::vector<std::string>{platform::ContentType::plainText});
    EXPECT_TRUE(contents->canCreateDirectories);
    expectControls(*controller, false);
    ASSERT_TRUE(AppKitControl::answerSavePanel(*sheet, std::nullopt));
    ASSERT_TRUE(runMainUntil([&] { return !controller->isSaving(); }));
    expectControls(*controller, true);
    EXPECT_EQ(controller->statusLabel().stringValue(), "");

    // An existing file is replaced whole.
    auto path = directory.write("report.txt", std::string(5000, 'o'));
    AppKitControl::typeKey(KeyCode::returnKey, "\r");
    sheet = controller->window().attachedSheet();
    ASSERT_TRUE(sheet);
    ASSERT_TRUE(AppKitControl::answerSavePanel(*sheet, std::filesystem::path(path)));
    ASSERT_TRUE(runMainUntil([&] { return !controller->window().isVisible(); }));
    EXPECT_EQ(readFile(path), reportText);
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(directory.path()), {}), 1)
        << "no temporary left";
}

TEST_F(DiagnosticReportPreviewTest, NothingClosesTheWindowWhileChoosingOrWriting) {
    DiagnosticReportPreviewController::SaveURLCompletion chosen;
    int asked = 0;
    std::promise<void> release;
    auto released = release.get_future().share();
    std::atomic<bool> writing{false};
    platform::Bytes written;
    auto controller = show(
        [&](platform::Window&, auto completion) {
            ++asked;
            chosen = std::move(completion);
        },
        [&, released](const platform::Bytes& bytes, const std::filesystem::path&) {
            writing = true;
            released.wait();
            written = bytes;
        });

    controller->save();
    ASSERT_EQ(asked, 1);
    expectControls(*controller, false);
    tryToClose(*controller);
    AppKitControl::typeKey(KeyCode::returnKey, "\r");
    controller->save();
    EXPECT_EQ(asked, 1) << "a second save while one is under way";

    // The chooser may answer from another thread; the rest happens on the main thread.
    std::thread([&] { chosen(std::filesystem::path(directory.file("report.txt"))); }).join();
    ASSERT_TRUE(runMainUntil([&] { return writing.load(); }));
    expectControls(*controller, false);
    tryToClose(*controller);

    release.set_value();
    ASSERT_TRUE(runMainUntil([&] { return closes == 1; }));
    EXPECT_FALSE(controller->window().isVisible());
    EXPECT_EQ(std::string(written.begin(), written.end()), reportText);
}

TEST_F(DiagnosticReportPreviewTest, AFailedWriteSaysSoAndASecondSaveCloses) {
    std::vector<std::filesystem::path> answers = {directory.file("missing/report.txt"),
                                                  directory.file("report.txt")};
    auto controller = show([&](platform::Window&, auto completion) {
        auto next = answers.front();
        answers.erase(answers.begin());
        completion(next);
    });

    controller->save();
    ASSERT_TRUE(runMainUntil([&] { return !controller->isSaving(); }));
    EXPECT_EQ(controller->statusLabel().stringValue(),
              "Couldn\u2019t save the report. Try another location.");
    expectControls(*controller, true);
    EXPECT_FALSE(std::filesystem::exists(directory.file("missing")));

    AppKitControl::typeKey(KeyCode::returnKey, "\r");
    EXPECT_EQ(controller->statusLabel().stringValue(), "") << "a new save clears the message";
    ASSERT_TRUE(runMainUntil([&] { return closes == 1; }));
    EXPECT_EQ(readFile(directory.file("report.txt")), reportText);
    struct stat status {};
    ASSERT_EQ(stat(directory.file("report.txt").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0644u);
}

// Saving past the file-size limit: the process ignores SIGXFSZ from its start, so the write
// fails with EFBIG, the window says so, the earlier report stays and no temporary file is left.
// Run in a child of its own, so the limit does not reach the test runner.
TEST_F(DiagnosticReportPreviewTest, ASavePastTheFileSizeLimitFailsAndKeepsTheEarlierReport) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const std::string earlier = "the earlier report\n";
            auto target = directory.write("report.txt", earlier);
            auto controller = DiagnosticReportPreviewController::create(
                reportText + std::string(64 * 1024, 'r'),
                [&](platform::Window&, auto completion) { completion(std::filesystem::path(target)); });
            controller->showWindow();
            struct rlimit limit {};
            ::getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = 4096;
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) std::_Exit(2);
            controller->save();
            if (!runMainUntil([&] { return !controller->isSaving(); })) std::_Exit(3);
            if (controller->statusLabel().stringValue() !=
                "Couldn\u2019t save the report. Try another location.")
                std::_Exit(4);
            if (!controller->window().isVisible()) std::_Exit(5);
            if (readFile(target) != earlier) std::_Exit(6);
            for (const auto& entry : std::filesystem::directory_iterator(directory.path()))
                if (entry.path() != target) std::_Exit(7);
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(DiagnosticReportPreviewTest, AScreenReaderReadsTheReportBetweenTheNoteAndTheButtons) {
    auto controller = show();
    controller->window().displayIfNeeded();
    const auto lines = platform::ScreenReader::read(controller->window());
    ASSERT_EQ(lines.size(), 5u) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines[0], "Review Diagnostic Report");
    EXPECT_EQ(lines[1], "Review this report before saving. Nothing is sent automatically.");
    EXPECT_EQ(lines[2], "Diagnostic report, " + reportText + ", text");
    EXPECT_EQ(lines[3], "Cancel, button");
    EXPECT_EQ(lines[4], "Save\u2026, button");
}

TEST_F(DiagnosticReportPreviewTest, EscapeClosesWhenIdle) {
    auto controller = show();
    AppKitControl::typeKey(KeyCode::escape, "\x1b");
    EXPECT_FALSE(controller->window().isVisible());
    EXPECT_EQ(closes, 1);
}

} // namespace
