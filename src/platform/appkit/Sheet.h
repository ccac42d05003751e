#pragma once

#include "platform/appkit/Panel.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarpelix::platform {

class Button;

// How a modal session or a sheet ended (the platform's values).
using ModalResponse = long;
namespace ModalResponses {
constexpr ModalResponse cancel = 0;
constexpr ModalResponse OK = 1;
constexpr ModalResponse alertFirstButtonReturn = 1000;
constexpr ModalResponse alertSecondButtonReturn = 1001;
constexpr ModalResponse alertThirdButtonReturn = 1002;
} // namespace ModalResponses

// What the control surface reads of a sheet or a modal alert.
struct SheetContents {
    enum class Kind { alert, savePanel };
    Kind kind = Kind::alert;
    std::string messageText;
    std::string informativeText;
    std::vector<std::string> buttons; // in the order they were added (a save panel: Save, Cancel)
    // Save panels only.
    std::string title;
    std::string nameFieldValue;
    std::vector<std::string> allowedContentTypes;
    bool canCreateDirectories = false;
    std::string directory;
};

// The window of an alert or a save panel: a borderless panel drawn in our own look that can
// become key, shown as a sheet on a window or (alerts) run modally. Main thread only.
class SheetPanel : public Panel, public WindowDelegate {
public:
    explicit SheetPanel(const Rect& contentRect);

    bool canBecomeKeyWindow() const override { return true; }

    // What it shows, its buttons' titles in order included.
    SheetContents contents() const;
    // Its texts and settings (as they were when it was built) and the buttons the control
    // surface may press, in the order they are listed.
    void setContents(SheetContents description, std::vector<Button*> buttons) {
        description_ = std::move(description);
        buttons_ = std::move(buttons);
    }
    // Answers a save panel with a path (OK) or none (cancel); false for other panels or when
    // the panel is not up.
    virtual bool answer(const std::optional<std::filesystem::path>&) { return false; }
    // The enabled button with that title, when there is one.
    Button* buttonTitled(const std::string& title) const;
    // Ends the sheet or modal session with the response: detaches the sheet, then calls the
    // completion (once).
    void finish(ModalResponse response);
    // Whether the panel is up and has not ended yet.
    bool isPresented() const { return presented_; }
    // The panel running in a modal session now; none outside one.
    static SheetPanel* modalPanel();

    // Shows the panel as a sheet on the window, keeping `owner` (the alert or save panel) alive
    // until it ends; false when the window already has a sheet.
    bool present(Window& window, std::function<void(ModalResponse)> completion, std::shared_ptr<void> owner);
    // Runs the panel in a modal session of the main run loop until it ends: the response.
    // Stops the process with a message when nothing answers within the modal wait.
    ModalResponse runModalSession(const std::string& description);

private:
    // Closed while up (its window went away): ends without an answer or a completion call.
    void windowWillClose(Window&) override;

    SheetContents description_;
    std::vector<Button*> buttons_;
    std::function<void(ModalResponse)> completion_;
    std::shared_ptr<void> owner_;
    bool presented_ = false;
    std::optional<ModalResponse> response_;
};

} // namespace tarpelix::platform
