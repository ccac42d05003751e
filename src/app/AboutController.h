#pragma once

#include "platform/appkit/AboutPanel.h"
#include "platform/appkit/GraphicsImage.h"
#include "platform/foundation/PropertyList.h"

#include <functional>
#include <optional>
#include <string>

namespace tarpelix {

// "About Tarpelix": the standard About panel, filled from the application bundle's
// information dictionary and the application's icon, with empty credits. Main thread only.
class AboutController final {
public:
    // What the panel names, each kept only when its entry is a string.
    struct Metadata {
        std::optional<std::string> name;    // "CFBundleDisplayName", else "CFBundleName"
        std::optional<std::string> version; // "CFBundleShortVersionString"
        std::optional<std::string> build;   // "CFBundleVersion"

        static Metadata fromInfoDictionary(const platform::PropertyListValue::Dictionary& info);
        // The main bundle's.
        static Metadata mainBundle();

        bool operator==(const Metadata&) const = default;
    };

    using Icon = std::function<std::optional<platform::GraphicsImage>()>;
    using Present = std::function<void(const platform::AboutPanelOptions&)>;

    // The application's icon image.
    static std::optional<platform::GraphicsImage> applicationIcon();
    // Activates the application, ignoring other applications, and brings the standard About
    // panel to the front with the options.
    static void presentStandardPanel(const platform::AboutPanelOptions& options);

    explicit AboutController(Metadata metadata = Metadata::mainBundle(), Icon icon = applicationIcon,
                             Present present = presentStandardPanel);

    // Shows the panel: empty credits, then the name, version, build and icon; a value that is
    // missing is left out, so the panel uses its own default for it.
    void show() const;

private:
    Metadata metadata_;
    Icon icon_;
    Present present_;
};

} // namespace tarpelix
