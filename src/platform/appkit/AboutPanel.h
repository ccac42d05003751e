#pragma once

#include "platform/appkit/AttributedString.h"
#include "platform/appkit/GraphicsImage.h"

#include <memory>
#include <optional>
#include <string>

namespace tarpelix::platform {

class Panel;
class Window;

// What the About panel shows; an option left out falls back to the main bundle's information
// dictionary or the application's icon.
struct AboutPanelOptions {
    std::optional<std::string> applicationName = {};    // default "CFBundleName"
    std::optional<std::string> applicationVersion = {}; // default "CFBundleShortVersionString"
    std::optional<std::string> version = {};            // the build in parentheses; default "CFBundleVersion"
    std::optional<AttributedString> credits = {};       // default none
    std::optional<GraphicsImage> applicationIcon = {};  // default the application's icon
    std::optional<std::string> copyright = {};          // default "NSHumanReadableCopyright"
};

// The application's About panel: a small window of our own with the icon, the name in bold,
// "Version X (Y)", the credits and the copyright. One window, filled anew on each show and
// brought to the front. Main thread only.
class AboutPanel {
public:
    AboutPanel();
    ~AboutPanel();
    AboutPanel(const AboutPanel&) = delete;
    AboutPanel& operator=(const AboutPanel&) = delete;

    static constexpr double width = 280;
    static constexpr double iconSize = 64;

    void show(const AboutPanelOptions& options);
    // The options of the last show, as given.
    const std::optional<AboutPanelOptions>& lastOptions() const { return options_; }
    // None before the first show.
    Window* window() const;

    // The line under the name: "Version X (Y)", "Version X" when the build is missing or the
    // same, none when both are.
    static std::optional<std::string> versionLine(const std::optional<std::string>& shortVersion,
                                                  const std::optional<std::string>& build);

private:
    void fill(const AboutPanelOptions& options);

    std::optional<AboutPanelOptions> options_;
    std::shared_ptr<Panel> panel_;
};

} // namespace tarpelix::platform
