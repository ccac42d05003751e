// The Dashboard page of Settings, hosted as the Settings window hosts a page (a scroll view,
// the section title over an empty subtitle line, the dashboard 24 points inside), at the page
// widths of the window's default and minimum sizes: before the first figures arrive, figures
// unavailable, no paste yet, one paste, a dozen with a date, a million, a link the browser
// refused, the share row focused, a dark state and Increase Contrast.

#include "gallery/GalleryScenes.h"
#include "gallery/SettingsPageHost.h"

#include "platform/desktop/SystemSettingsControl.h"
#include "platform/desktop/Workspace.h"
#include "windows/DashboardView.h"

namespace tarpelix::gallery {

using namespace platform;

namespace {

constexpr double contentHeight = 640;

const std::vector<std::string> states = {"before-update", "unavailable", "zero",         "one-paste",
                                         "twelve-pastes", "million",     "link-failure", "share-focused",
                                         "dark",          "contrast"};

std::optional<PasteUsage> usageFor(const std::string& state) {
    const Date lateSeptember{812462400}; // Sep 30, 2026, 12:00 UTC
    if (state == "unavailable") return std::nullopt;
    if (state == "zero") return PasteUsage{};
    if (state == "one-paste") return PasteUsage{1, 1, 1, lateSeptember};
    if (state == "million") return PasteUsage{1000000, 48, 1200, lateSeptember};
    return PasteUsage{12, 3, 2, lateSeptember};
}

void drawDashboard(GraphicsContext& g, const std::string& state, Size size) {
    const PinnedDesktop pinned(state == "contrast");

    auto dashboard = DashboardView::create([](const URL&) { return false; });
    auto window = settingsPageWindow("Dashboard", "", {dashboard}, size);

    if (state != "before-update") dashboard->update(usageFor(state));
    if (state == "link-failure") dashboard->share(); // the opener refuses every link
    window->makeKeyAndOrderFront();
    if (state == "share-focused") window->makeFirstResponder(&dashboard->shareButton());
    drawWindow(g, *window);
    window->orderOut();

}

Scene dashboardScene(const std::string& name, double width) {
    return {name,
            states,
            {width, contentHeight + Window::titleBarHeight},
            [width](GraphicsContext& g, const std::string& state) { drawDashboard(g, state, {width, contentHeight}); },
            {},
            {DashboardView::pastesIdentifier, DashboardView::daysIdentifier, DashboardView::sinceIdentifier}};
}

} // namespace

Scene dashboardWideScene() { return dashboardScene("settings-dashboard-wide", settingsPageWideWidth); }
Scene dashboardNarrowScene() { return dashboardScene("settings-dashboard-narrow", settingsPageNarrowWidth); }

} // namespace tarpelix::gallery
