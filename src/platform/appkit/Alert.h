#pragma once

#include "platform/appkit/GraphicsImage.h"
#include "platform/appkit/Sheet.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarpelix::platform {

enum class AlertStyle { warning, informational, critical };

// A message for the user with up to a few buttons, shown as a sheet on a window or run
// modally. The first button added is the default one (Return); one titled "Cancel" answers
// Escape; the buttons answer the first, second, third… button return in the order they were
// added. Drawn in our own look from labels, an image view and buttons. Main thread only.
class Alert : public std::enable_shared_from_this<Alert> {
public:
    static std::shared_ptr<Alert> create();
    ~Alert();

    const std::string& messageText() const { return messageText_; }
    void setMessageText(std::string text) { messageText_ = std::move(text); }
    const std::string& informativeText() const { return informativeText_; }
    void setInformativeText(std::string text) { informativeText_ = std::move(text); }
    AlertStyle alertStyle() const { return style_; }
    void setAlertStyle(AlertStyle style) { style_ = style; }
    // None: the application's icon (a caution sign for the critical style).
    const std::optional<GraphicsImage>& icon() const { return icon_; }
    void setIcon(std::optional<GraphicsImage> icon) { icon_ = std::move(icon); }

    // Adds a button after the others and returns it, so its key equivalent can be changed.
    Button& addButtonWithTitle(std::string title);
    std::vector<Button*> buttons() const;

    // Shows the alert as a sheet on the window; the completion gets the response once the sheet
    // ended. The alert keeps itself alive until then. Ignored when the window already has a
    // sheet.
    void beginSheetModal(Window& window, std::function<void(ModalResponse)> completion);
    // Runs the alert in a modal session (a nested run of the main loop) and returns the
    // response. Stops the process with a message when nothing answers it in time.
    ModalResponse runModal();
    // The alert's window, built from what is set now unless it is up.
    SheetPanel& window();

    // The alert's width: text wraps at it less the margins.
    static constexpr double width = 300;

private:
    Alert();
    void build();

    std::string messageText_;
    std::string informativeText_;
    AlertStyle style_ = AlertStyle::warning;
    std::optional<GraphicsImage> icon_;
    std::vector<std::shared_ptr<Button>> buttons_;
    std::shared_ptr<SheetPanel> panel_;
};

} // namespace tarpelix::platform
