// The window that shows the diagnostic report for review before it is saved: a report whose
// timeline lines are wider than the window, the same window at its minimum size, and the window
// after a save failed.

#include "gallery/GalleryScenes.h"

#include "platform/dispatch/RunLoop.h"
#include "windows/DiagnosticReportPreviewController.h"

#include <stdexcept>

namespace tarpelix::gallery {

using namespace platform;

namespace {

constexpr Size reportWindowSize{DiagnosticReportPreviewController::contentWidth,
                                DiagnosticReportPreviewController::contentHeight + Window::titleBarHeight};

// A report as the diagnostics make it: its timeline lines run past the window's width.
const std::string reportText = R"(Tarpelix Diagnostic Report
App version: 1.4.2
macOS version: 15.3.1

Storage
Mode: persistent
Warning: none
Clear pending: no
Records: 12
Retained images: 3
Image bytes: 4821907
Database bytes: 98304
Maintenance warning: none

Diagnostics
Retained events: 4
Log bytes: 2210
Logging warning: none

Outcome counts (retained events)
capture/succeeded: 1
insertion/succeeded: 1
upload/failed: 1
upload/succeeded: 1

Redacted timeline (UTC)
Insertion success records terminal handoff only; remote delivery and consumption are unverified.
2026-01-02T03:04:05.678Z | 6F1C2A9E-0B4D-4E8A-9A51-3C7D2E9F1B20 | ghostty | ssh | capture | succeeded | duration_ms=41 | bytes=1843200
2026-01-02T03:04:06.102Z | 6F1C2A9E-0B4D-4E8A-9A51-3C7D2E9F1B20 | ghostty | ssh | upload | succeeded | duration_ms=412 | bytes=1843200
2026-01-02T03:04:06.230Z | 6F1C2A9E-0B4D-4E8A-9A51-3C7D2E9F1B20 | ghostty | ssh | insertion | succeeded | duration_ms=18
2026-01-02T03:11:40.015Z | A03B77C1-5E62-4F0D-8C2B-91D4E6A7F308 | iterm2 | mosh | upload | failed | duration_ms=30004 | failure=timeout
)";

std::shared_ptr<DiagnosticReportPreviewController> showReport(DiagnosticReportPreviewController::ChooseSaveURL choose = {},
                                                              DiagnosticReportPreviewController::WriteReport write = {}) {
    auto controller = DiagnosticReportPreviewController::create(reportText, std::move(choose), std::move(write));
    controller->window().makeKeyAndOrderFront();
    return controller;
}

void drawLongLines(GraphicsContext& g, const std::string&) {
    auto controller = showReport();
    drawWindow(g, controller->window());
    controller->window().orderOut();
}

void drawMinimum(GraphicsContext& g, const std::string&) {
    auto controller = showReport();
    controller->window().setContentSize(
        {DiagnosticReportPreviewController::minimumWidth, DiagnosticReportPreviewController::minimumHeight});
    drawWindow(g, controller->window());
    controller->window().orderOut();
}

void drawFailure(GraphicsContext& g, const std::string&) {
    auto controller = showReport([](Window&, auto completion) { completion(std::filesystem::path("/Volumes/Gone/report.txt")); },
                                 [](const Bytes&, const std::filesystem::path&) {
                                     throw std::runtime_error("the volume is gone");
                                 });
    controller->save();
    RunLoop::main()->runUntil([&] { return !controller->isSaving(); }, 10.0);
    drawWindow(g, controller->window());
    controller->window().orderOut();
}

} // namespace

Scene reportWindowScene() { return {"report-window", {"light", "dark"}, reportWindowSize, drawLongLines}; }

Scene reportWindowMinimumScene() {
    return {"report-window-minimum",
            {"light", "dark"},
            {DiagnosticReportPreviewController::minimumWidth,
             DiagnosticReportPreviewController::minimumHeight + Window::titleBarHeight},
            drawMinimum};
}

Scene reportWindowFailureScene() {
    return {"report-window-failure", {"light", "dark"}, reportWindowSize, drawFailure};
}

} // namespace tarpelix::gallery
