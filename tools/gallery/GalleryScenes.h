#pragma once

#include "platform/appkit/Color.h"
#include "platform/appkit/RecordingContext.h"
#include "platform/appkit/Window.h"
#include "platform/foundation/Calendar.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarpelix::gallery {

// One picture of the gallery: a window (for now drawn straight into a recording) shown in
// each of its states.
struct Scene {
    std::string name;
    std::vector<std::string> states;
    platform::Size size;
    // Draws the state; the drawing appearance is already the state's.
    std::function<void(platform::GraphicsContext& context, const std::string& state)> draw;
    // Identifiers of views drawn over their visible siblings on purpose (a badge on an icon, a
    // card over a material): the layout audit lets them overlap.
    std::vector<std::string> allowedOverlaps = {};
    // Identifiers of labels that clip a value wider than their fixed box on purpose: the layout
    // audit lets their text not fit.
    std::vector<std::string> allowedClipping = {};
};

// Looks at a window a scene drew while it still exists (the layout audit does).
using WindowInspector = std::function<void(const platform::Window& window)>;

// Draws the window into the context, then hands it to the inspector of the recording under
// way. Scenes draw their windows with it so the audit sees their views.
void drawWindow(platform::GraphicsContext& context, platform::Window& window);

// The About panel drawn once per `show` (each shows it anew), side by side from the left,
// top-aligned in a scene `height` points high, `gap` points apart and from the edges.
void drawAboutPanelsInARow(platform::GraphicsContext& context, double height, double gap,
                           const std::vector<std::function<void()>>& shows);

const std::vector<Scene>& scenes();

// Scenes kept in files of their own.
Scene pasteOverlayScene();
Scene installWindowScene();
Scene aboutTarpelixScene();
Scene mainMenuScene();
Scene updatesUnavailableAlertScene();
Scene statusMenuScene();
Scene lastPasteStatusScene();
Scene lastPasteStatusMinimumScene();
Scene reportWindowScene();
Scene reportWindowMinimumScene();
Scene reportWindowFailureScene();
Scene settingsPermissionsWideScene();
Scene settingsPermissionsNarrowScene();
Scene settingsHelpWideScene();
Scene settingsHelpNarrowScene();
Scene settingsHelpExpandedWideScene();
Scene settingsHelpExpandedNarrowScene();
Scene dashboardWideScene();
Scene dashboardNarrowScene();

// The Settings window's scenes and the first-run setup window's scenes, each subsystem's in a
// file of its own.
std::vector<Scene> settingsWindowScenes();
std::vector<Scene> onboardingScenes();

// The appearance a state is drawn under: "dark" and a state ending in "-dark" are the dark
// appearance, any other light; "contrast" is light with Increase Contrast.
inline const std::string darkSuffix = "-dark";
platform::DrawingAppearance appearance(const std::string& state);
// The state without its "-dark" ending; any other state as it is.
std::string withoutDarkSuffix(const std::string& state);
// Each state, then each again with "-dark".
std::vector<std::string> inLightAndDark(const std::vector<std::string>& states);

// The state drawn into a recording of the scene's size, under the state's appearance.
// Every window the scene draws goes to `inspect` while it exists.
platform::RecordingContext record(const Scene& scene, const std::string& state, const WindowInspector& inspect = {});

// While it lives, the desktop formats in en_US and UTC (and, when given, Increase Contrast is
// as asked), so a scene draws the same texts on every machine; it puts all three back after.
class PinnedDesktop {
public:
    explicit PinnedDesktop(std::optional<bool> increaseContrast = std::nullopt);
    ~PinnedDesktop();
    PinnedDesktop(const PinnedDesktop&) = delete;
    PinnedDesktop& operator=(const PinnedDesktop&) = delete;

private:
    std::string locale_;
    platform::TimeZone zone_;
    bool contrast_;
};

// "<scene>-<state>.png".
std::string fileName(const Scene& scene, const std::string& state);

// One picture of the index page: the scene's name and width, the state and what the audit found.
struct IndexEntry {
    std::string scene;
    double width = 0;
    std::string state;
    std::vector<std::string> findings;
};

// The gallery's index page (HTML): the scenes' names linking to their sections, then each scene
// with every state's picture (fileName, shown at the scene's width in points) and its findings.
std::string indexPage(const std::vector<IndexEntry>& entries);

} // namespace tarpelix::gallery
