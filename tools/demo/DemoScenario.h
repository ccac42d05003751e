#pragma once

// What the user does to Tarpelix from its first launch to its quit, and what it shows
// meanwhile. Runs on the main run loop once the application has launched; it acts only as the
// user and the Mac would, through the simulated desktop's control surface, and only looks on
// at the application's objects.

#include "DemoSupport.h"

#include "model/PasteFeedback.h"
#include "model/TransferRecord.h"
#include "onboarding/OnboardingWindowController.h"
#include "platform/desktop/SimulatedTerminal.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tarpelix {
class AppDelegate;
class PermissionActionRow;
} // namespace tarpelix

namespace tarpelix::platform {
class Button;
class View;
} // namespace tarpelix::platform

namespace tarpelix::demo {

class Scenario {
public:
    struct World {
        std::shared_ptr<platform::SimulatedTerminal> ghostty;
        std::string sshPane;  // runs ssh to the private sshd
        platform::Bytes practiceImage;
        platform::Bytes everydayImage;
        std::filesystem::path reportFile; // where the report is saved
    };

    // What one image paste delivered.
    struct Paste {
        std::optional<PasteFeedback> feedback;
        std::optional<TransferRecord> record; // the confirmed upload it stored
        std::string typed = "<nothing>";      // the line the remote shell read
        bool delivered() const {
            return feedback && feedback->outcome == PasteFeedback::Outcome::success && record &&
                   record->confirmedRemotePath && typed == *record->confirmedRemotePath;
        }
    };

    Scenario(World world, Pictures& pictures) : world_(std::move(world)), pictures_(pictures) {}

    // Every step, in order; false at the first that did not happen (it says why on stderr).
    bool run(const std::shared_ptr<AppDelegate>& application);

    Paste practice;
    Paste everyday;
    bool localPassedThrough = false;
    bool reportSaved = false;

private:
    bool setupOpensByItself();
    bool chooseGhostty();
    bool grantPermissions();
    bool practicePaste();
    bool finishSetup();
    bool everydayPaste();
    bool localShellPaste();
    bool lastPasteStatus();
    bool settingsStorage();
    bool saveReport();
    bool quit();

    // Pastes into the ssh pane, whose remote shell is reading a line: copies the image, brings
    // Ghostty to the front, presses Control+V and reads back what the shell received.
    bool pasteImage(const platform::Bytes& image, Paste& paste);
    // Waits until the tap is live, no permission is missing and no paste runs.
    bool waitArmed();
    // Control+V through the desktop's event stream; true when the application held it.
    bool pressControlV();
    // Ends the line the pane's shell reads (testing::shellReadsALine) and answers what it read.
    std::optional<std::string> readLine(const std::string& pane);

    OnboardingWindowController& setup() const;
    // Clicks the view of one of the application's windows, bringing the window forward first.
    bool click(platform::View& view);
    // Clicks the button once it is shown and enabled with exactly this title.
    bool press(platform::Button& button, const std::string& title);
    // Clicks a permission row's button, waits for the system's prompt, answers it as the user
    // would, and waits until the row reads the permission as allowed (`state`: what the setup
    // window is told of it).
    bool grant(const std::string& name, PermissionActionRow& row, const std::function<bool()>& prompted,
               const std::function<void()>& answer,
               const std::function<OnboardingWindowController::PermissionState()>& state);
    // Opens the status menu with a click on its item, draws it, and chooses `choice` in it.
    bool chooseInStatusMenu(const std::string& choice, const std::optional<std::string>& picture = {});

    // Runs the main run loop until `condition` holds, printing every change of the tooltip.
    bool runUntil(const std::function<bool()>& condition, double seconds = patience);
    bool waitFor(const std::string& what, const std::function<bool()>& condition, double seconds = patience);
    void watchCoordinator();
    void noteToolTip();
    void noteOverlay();

    World world_;
    Pictures& pictures_;
    std::shared_ptr<AppDelegate> app_;
    std::optional<PasteFeedback> last_;
    std::vector<std::string> reports_;
    std::string toolTip_;
    int overlayDisplays_ = 0;
};

} // namespace tarpelix::demo
