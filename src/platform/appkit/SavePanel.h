#pragma once

#include "platform/appkit/Sheet.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarpelix::platform {

class SavePanelWindow;

// Uniform type identifiers a save panel offers, with the file name extension each one adds.
namespace ContentType {
inline const std::string plainText = "public.plain-text";
inline const std::string png = "public.png";
inline const std::string json = "public.json";
// The extension of a type ("txt"); empty for a type we do not know.
std::string preferredFilenameExtension(const std::string& type);
// What a person reads for the type ("Plain Text").
std::string localizedDescription(const std::string& type);
} // namespace ContentType

// Asks where to save a file, shown as a sheet on a window: a title, a message, a proposed
// name, the allowed content types (the first one's extension is added to a name without it),
// whether new folders may be made, and the folder it starts in. Main thread only.
class SavePanel : public std::enable_shared_from_this<SavePanel> {
public:
    static std::shared_ptr<SavePanel> create();
    ~SavePanel();

    const std::string& title() const { return title_; }
    void setTitle(std::string title) { title_ = std::move(title); }
    const std::string& message() const { return message_; }
    void setMessage(std::string message) { message_ = std::move(message); }
    const std::string& nameFieldStringValue() const { return name_; }
    void setNameFieldStringValue(std::string name) { name_ = std::move(name); }
    const std::vector<std::string>& allowedContentTypes() const { return types_; }
    void setAllowedContentTypes(std::vector<std::string> types) { types_ = std::move(types); }
    bool canCreateDirectories() const { return canCreateDirectories_; }
    void setCanCreateDirectories(bool can) { canCreateDirectories_ = can; }
    // The folder the panel shows; the home folder (else the working one) unless set.
    const std::filesystem::path& directoryURL() const { return directory_; }
    void setDirectoryURL(std::filesystem::path directory) { directory_ = std::move(directory); }

    // Shows the panel as a sheet on the window; the completion gets OK or cancel once it ended.
    // The panel keeps itself alive until then. Ignored when the window already has a sheet.
    void beginSheetModal(Window& window, std::function<void(ModalResponse)> completion);
    // The file chosen: the folder and the name (with the allowed type's extension added when
    // the name has none); none before the panel ended with OK or for an empty name.
    std::optional<std::filesystem::path> url() const;

    // Ends the panel: with a path (OK; the panel's folder and name become the path's) or
    // without (cancel). False when the panel is not up.
    bool answer(const std::optional<std::filesystem::path>& path);
    // The panel's window (built on first use and each time the panel is shown).
    SheetPanel& window();

    static constexpr double width = 440;

private:
    friend class SavePanelWindow;
    SavePanel();
    void build();
    std::string chosenName() const;

    std::string title_;
    std::string message_;
    std::string name_;
    std::vector<std::string> types_;
    bool canCreateDirectories_ = false;
    std::filesystem::path directory_;
    bool chose_ = false;
    std::shared_ptr<SavePanelWindow> panel_;
};

} // namespace tarpelix::platform
