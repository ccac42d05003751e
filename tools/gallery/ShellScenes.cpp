// The application shell as the user meets it: the About panel as "About Tarpelix" shows it
// (a full bundle, one without a display name, one without a version), and the main menu's
// "Tarpelix" menu open below the menu bar.

#include "gallery/GalleryScenes.h"

#include "app/AboutController.h"
#include "app/RecoveryMenu.h"
#include "platform/appkit/AboutPanel.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Path.h"
#include "platform/appkit/StatusItem.h"
#include "platform/appkit/TextLayout.h"
#include "platform/foundation/Bundle.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace tarpelix::gallery {

using namespace platform;

namespace {

// MARK: about-tarpelix

constexpr double aboutGap = 20;
constexpr double aboutHeight = 218;
constexpr Size aboutSize{3 * AboutPanel::width + 4 * aboutGap, aboutHeight};

// A bundle's resources with an information dictionary of these string entries, removed with
// its folder when released.
class GalleryBundle {
public:
    explicit GalleryBundle(const std::vector<std::pair<std::string, std::string>>& entries)
        : directory_(std::filesystem::temp_directory_path() /
                     ("tarpelix-gallery-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++))) {
        std::filesystem::create_directories(directory_);
        std::ofstream info(directory_ / "Info.plist");
        info << R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict>)";
        for (const auto& [key, value] : entries) info << "<key>" << key << "</key><string>" << value << "</string>";
        info << "</dict></plist>";
        BundleControl::setResourceDirectory(directory_.string());
    }
    ~GalleryBundle() {
        BundleControl::reset();
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
    }
    GalleryBundle(const GalleryBundle&) = delete;
    GalleryBundle& operator=(const GalleryBundle&) = delete;

private:
    static inline int counter_ = 0;
    std::filesystem::path directory_;
};

void drawAboutTarpelix(GraphicsContext& g, const std::string&) {
    g.fill(Path::rect({{0, 0}, aboutSize}), Color::underPageBackgroundColor());
    using Entries = std::vector<std::pair<std::string, std::string>>;
    const Entries bundles[] = {
        {{"CFBundleDisplayName", "Tarpelix"},
         {"CFBundleName", "tarpelix"},
         {"CFBundleShortVersionString", "0.1.0"},
         {"CFBundleVersion", "1"}},
        {{"CFBundleName", "Tarpelix Beta"}, {"CFBundleShortVersionString", "0.2.0"}, {"CFBundleVersion", "7"}},
        {{"CFBundleDisplayName", "Tarpelix"}, {"CFBundleVersion", "12"}},
    };
    // Each panel from its own bundle, which stays until the next panel is shown.
    std::unique_ptr<GalleryBundle> current;
    std::vector<std::function<void()>> shows;
    for (const auto& entries : bundles) {
        shows.push_back([&current, entries] {
            current.reset();
            current = std::make_unique<GalleryBundle>(entries);
            AboutController().show();
        });
    }
    drawAboutPanelsInARow(g, aboutHeight, aboutGap, shows);
}

// MARK: main-menu

constexpr Size menuSceneSize{420, 175};

// The main menu's items send to nobody here; only their look matters.
struct NoTarget : ActionTarget {};

RecoveryMenu::Actions menuActions() {
    return {"openLastPaste:", "copyLastUploadedPath:", "copyLatestImage:", "openHelp:", "openAbout:",
            "showTarpelixSettings:", "quit:", "resumeSetup:", "tryFirstPaste:", "fixPermissions:",
            "checkForUpdates:"};
}

void drawMainMenu(GraphicsContext& g, const std::string&) {
    const double barY = menuSceneSize.height - StatusBar::thickness;
    g.fill(Path::rect({{0, 0}, menuSceneSize}), Color::underPageBackgroundColor());
    g.fill(Path::rect({0, barY, menuSceneSize.width, StatusBar::thickness}), Color::windowBackgroundColor());
    g.fill(Path::rect({0, barY, menuSceneSize.width, 1}), Color::separatorColor());

    const auto target = std::make_shared<NoTarget>();
    const auto bar = RecoveryMenu::applicationMenu(target, menuActions());
    RecoveryMenu::updateApplicationMenu(*bar, "Check for Updates…", true);

    // The menu titles, the application's in bold and highlighted as its menu is open.
    double x = 12;
    double openX = x;
    for (const auto& item : bar->items()) {
        const bool application = item->title() == "Tarpelix";
        const AttributedString title(item->title(), {.font = application ? Font::boldSystemFont(13)
                                                                         : Font::systemFont(13),
                                                     .foregroundColor = Color::labelColor()});
        const Size size = TextLayout::size(title);
        const Rect box{x, barY + (StatusBar::thickness - size.height) / 2, size.width, size.height};
        if (application) {
            openX = x - 8;
            g.fill(Path::roundedRect({openX, barY + 2, size.width + 16, StatusBar::thickness - 4}, 4, 4),
                   Color::quaternaryLabelColor());
        }
        g.drawText(title, box);
        x += size.width + 20;
    }

    const Menu& menu = *bar->items().front()->submenu();
    g.saveGState();
    g.translate(openX, barY - 3 - menu.size().height);
    menu.draw(g);
    g.restoreGState();
}

} // namespace

Scene aboutTarpelixScene() { return {"about-tarpelix", {"light", "dark"}, aboutSize, drawAboutTarpelix}; }

Scene mainMenuScene() { return {"main-menu", {"light", "dark"}, menuSceneSize, drawMainMenu}; }

} // namespace tarpelix::gallery
