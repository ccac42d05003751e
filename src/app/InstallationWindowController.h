#pragma once

#include "platform/appkit/Window.h"

#include <functional>
#include <memory>

namespace tarpelix::platform {
class Button;
}

namespace tarpelix {

// The window shown instead of the application while it must be installed first: it asks the
// user to move Tarpelix to the Applications folder and offers to open that folder or quit.
// Return opens the folder (the window stays); Escape and the close button quit, and the
// window itself never closes. The controller is the window's delegate. Main thread only.
class InstallationWindowController final : public platform::WindowDelegate,
                                           public std::enable_shared_from_this<InstallationWindowController> {
public:
    using Action = std::function<void()>;

    static constexpr double contentWidth = 440;
    static constexpr double contentHeight = 180;

    // Defaults: `openApplications` opens the desktop's Applications folder through the
    // workspace; `quit` asks the application to terminate.
    static std::shared_ptr<InstallationWindowController> create(Action openApplications = {}, Action quit = {});

    // Shows the window centred and key, in front, with the application activated.
    void show();

    void openApplicationsClicked();
    void quitClicked();

    platform::Window& window() const { return *window_; }
    platform::Button& openApplicationsButton() const { return *openApplicationsButton_; }
    platform::Button& quitButton() const { return *quitButton_; }

    // The close button quits instead of closing.
    bool windowShouldClose(platform::Window& window) override;

private:
    InstallationWindowController(Action openApplications, Action quit);

    std::shared_ptr<platform::Window> window_;
    std::shared_ptr<platform::Button> openApplicationsButton_;
    std::shared_ptr<platform::Button> quitButton_;
    Action openApplications_;
    Action quit_;
};

} // namespace tarpelix
