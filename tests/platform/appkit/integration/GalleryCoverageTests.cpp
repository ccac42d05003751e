#include "gallery/GalleryScenes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

using namespace tarpelix;
using namespace tarpelix::platform;
namespace fs = std::filesystem;

namespace {

// A controller of the product that owns a window or a panel, as the source tree declares it.
struct WindowController {
    std::string name;
    bool hasMinimumSize; // its window sets a minimum content size
};

std::string contents(const fs::path& path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

// Every class named "…Controller" under src/ (the platform layer aside) whose header holds a
// window or panel of its own; it has a minimum size when its header or source sets one.
std::vector<WindowController> windowControllers() {
    const std::regex declaration(R"(\bclass\s+(\w+Controller)\b[^;{]*\{)");
    const std::regex ownsWindow(R"(std::(shared|unique)_ptr<(platform::)?\w*(Window|Panel)>\s+\w+_;)");
    const fs::path src = fs::path(TARPELIX_SOURCE_DIR) / "src";
    std::vector<WindowController> found;
    for (const auto& entry : fs::recursive_directory_iterator(src)) {
        const auto& path = entry.path();
        if (path.extension() != ".h" || path.string().find("/src/platform/") != std::string::npos) continue;
        const auto header = contents(path);
        if (!std::regex_search(header, ownsWindow)) continue;
        auto source = path;
        source.replace_extension(".cpp");
        const auto both = header + (fs::exists(source) ? contents(source) : "");
        const bool minimum = both.find("setContentMinSize") != std::string::npos ||
                             both.find("minimumContentSize") != std::string::npos;
        for (std::sregex_iterator match(header.begin(), header.end(), declaration), end; match != end; ++match) {
            found.push_back({(*match)[1], minimum});
        }
    }
    return found;
}

// The scenes that show each window controller: at its opening size and, where its window has
// one, at its minimum size. A new window controller needs its scenes and a line here.
const std::map<std::string, std::pair<std::string, std::string>> scenesOf = {
    {"InstallationWindowController", {"install-window", ""}},
    {"LastPasteWindowController", {"last-paste-status", "last-paste-status-minimum"}},
    {"DiagnosticReportPreviewController", {"report-window", "report-window-minimum"}},
    {"PasteOverlayController", {"paste-overlay", ""}},
    {"SettingsWindowController", {"settings-window", "settings-window-minimum"}},
    {"OnboardingWindowController", {"setup-welcome", "setup-minimum"}},
};


const gallery::Scene* scene(const std::string& name) {
    const auto& all = gallery::scenes();
    const auto found = std::ranges::find(all, name, &gallery::Scene::name);
    return found == all.end() ? nullptr : &*found;
}

bool drawnIn(const gallery::Scene& scene, Appearance appearance) {
    return std::ranges::any_of(scene.states, [&](const std::string& state) {
        return gallery::appearance(state).appearance == appearance;
    });
}

TEST(GalleryCoverageTest, EveryWindowControllerOfTheProductHasItsScenesInLightAndDark) {
    const auto controllers = windowControllers();
    std::set<std::string> names;
    for (const auto& controller : controllers) names.insert(controller.name);
    // The scan finds every controller the table knows: a scan that went blind would pass.
    for (const auto& [name, shown] : scenesOf) EXPECT_TRUE(names.contains(name)) << name << " not found in src/";

    for (const auto& controller : controllers) {
        SCOPED_TRACE(controller.name);
        const auto shown = scenesOf.find(controller.name);
        ASSERT_NE(shown, scenesOf.end()) << "a window controller without a gallery scene";
        std::vector<std::string> wanted = {shown->second.first};
        if (controller.hasMinimumSize) {
            EXPECT_FALSE(shown->second.second.empty()) << "its window has a minimum size: it needs a scene there";
            wanted.push_back(shown->second.second);
        }
        for (const auto& name : wanted) {
            if (name.empty()) continue;
            const auto* found = scene(name);
            ASSERT_NE(found, nullptr) << name;
            EXPECT_TRUE(drawnIn(*found, Appearance::light)) << name;
            EXPECT_TRUE(drawnIn(*found, Appearance::dark)) << name;
        }
    }
}

// The setup window shows every step; the Settings window every section, at both sizes.
TEST(GalleryCoverageTest, EverySetupStepAndSettingsSectionHasAState) {
    for (const auto* step : {"welcome", "terminal", "permissions", "first-paste", "finish"}) {
        EXPECT_NE(scene(std::string("setup-") + step), nullptr) << step;
        const auto* minimum = scene("setup-minimum");
        ASSERT_NE(minimum, nullptr);
        EXPECT_TRUE(std::ranges::count(minimum->states, step)) << step;
    }
    for (const auto* name : {"settings-window", "settings-window-minimum"}) {
        const auto* found = scene(name);
        ASSERT_NE(found, nullptr) << name;
        for (const auto* section : {"dashboard", "general", "permissions", "storage", "diagnostics", "help"}) {
            EXPECT_TRUE(std::ranges::count(found->states, section)) << name << " " << section;
        }
    }
}

// The index page shows every picture the gallery writes, each under its scene, with what the
// audit found (escaped).
TEST(GalleryCoverageTest, TheIndexPageListsEveryStateOfEverySceneWithItsPicture) {
    std::vector<gallery::IndexEntry> entries;
    for (const auto& scene : gallery::scenes()) {
        for (const auto& state : scene.states) entries.push_back({scene.name, scene.size.width, state, {}});
    }
    entries.front().findings = {"text does not fit: <b>&</b>"};
    const auto page = gallery::indexPage(entries);
    std::size_t previous = 0;
    for (const auto& scene : gallery::scenes()) {
        const auto section = page.find("<section id=\"" + scene.name + "\">");
        ASSERT_NE(section, std::string::npos) << scene.name;
        EXPECT_GT(section, previous) << "in the gallery's order: " << scene.name;
        previous = section;
        EXPECT_NE(page.find("<a href=\"#" + scene.name + "\">"), std::string::npos) << scene.name;
        const auto end = page.find("</section>", section);
        for (const auto& state : scene.states) {
            const auto picture = page.find("<img src=\"" + gallery::fileName(scene, state) + "\"", section);
            EXPECT_LT(picture, end) << gallery::fileName(scene, state);
        }
    }
    EXPECT_NE(page.find("<div class=\"finding\">text does not fit: &lt;b&gt;&amp;&lt;/b&gt;</div>"),
              std::string::npos);
}

} // namespace
