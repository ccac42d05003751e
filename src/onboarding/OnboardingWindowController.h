#pragma once

#include "settings/LaunchAtLoginController.h"
#include "onboarding/OnboardingModel.h"
#include "platform/appkit/GraphicsImage.h"
#include "platform/appkit/ViewConstraint.h"
#include "platform/appkit/Window.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarpelix::platform {
class Button;
class Control;
class ImageView;
class Label;
class ProgressIndicator;
class ScrollView;
class StackView;
} // namespace tarpelix::platform

namespace tarpelix {

class OnboardingTerminalRow;
class PermissionActionRow;

// The first-run setup window: a header with the step indicator and the page heading, a
// scrolling page area with one page per setup step, and a bottom bar with "Back", "Try later"
// and the forward button. The step machine belongs to the model; permission, launch-at-login
// and first-paste texts arrive as one State from the owner. A render whose inputs did not
// change touches no view. The window closes on Command-W alone and is kept when closed.
// Main thread only.
class OnboardingWindowController final : public platform::WindowDelegate,
                                         public std::enable_shared_from_this<OnboardingWindowController> {
public:
    // One permission row as the page shows it.
    struct PermissionState {
        std::string status = "Checking\u2026";
        bool allowed = false;
        std::string action = "Request Access\u2026";
        bool busy = false;
        bool enabled = true;
        std::optional<std::string> message;
        bool neutral = false;
        std::optional<std::string> detail;
        bool operator==(const PermissionState&) const = default;
    };

    // Everything the window shows that does not come from the model.
    struct State {
        PermissionState accessibility;
        PermissionState automation; // the selected terminal's
        PermissionState clipboard;
        LaunchAtLoginController::State loginState = LaunchAtLoginController::State::unknown;
        bool loginBusy = false;
        std::optional<std::string> loginMessage;
        std::optional<std::string> pasteMessage;
        bool pasteNeedsRecovery = false;
        std::string pasteTitle = "Waiting for your paste";
        bool pasteBusy = false;
        bool operator==(const State&) const = default;
    };

    // What the window asks its owner to do; each does nothing by default, except `icon`, which
    // answers the workspace's icon for the application bundle.
    struct Actions {
        std::function<void()> requestAccessibility = [] {};
        std::function<void(const std::string& terminalID)> requestAutomation = [](const std::string&) {};
        std::function<void()> requestClipboard = [] {};
        std::function<void(const std::string& terminalID)> openTerminal = [](const std::string&) {};
        std::function<void()> refresh = [] {};
        std::function<void()> openHelp = [] {};
        std::function<void()> enableLaunchAtLogin = [] {};
        std::function<void()> openLoginItems = [] {};
        // The window is about to close, after the model was told.
        std::function<void()> didClose = [] {};
        std::function<void()> didFinish = [] {};
        // Miniaturised (false) or restored (true).
        std::function<void(bool visible)> visibilityChanged = [](bool) {};
        std::function<std::optional<platform::GraphicsImage>(const std::string& applicationPath)> icon = defaultIcon;
        // After every press of the forward button, whatever it did.
        std::function<void()> progressChanged = [] {};
        std::function<void()> openLastPaste = [] {};

        static std::optional<platform::GraphicsImage> defaultIcon(const std::string& applicationPath);
    };

    using ReadState = std::function<State()>;

    static constexpr platform::Size contentSize{720, 600};
    static constexpr platform::Size minimumContentSize{640, 520};

    // Builds the window and its chrome; builds no page and shows nothing.
    // `state` none: every State default.
    static std::shared_ptr<OnboardingWindowController> create(std::shared_ptr<OnboardingModel> model,
                                                              ReadState state, Actions actions);
    static std::shared_ptr<OnboardingWindowController> create(std::shared_ptr<OnboardingModel> model);
    OnboardingWindowController(const OnboardingWindowController&) = delete;
    OnboardingWindowController& operator=(const OnboardingWindowController&) = delete;

    // Presents the model when needed, renders, centres the window the first time and brings
    // it to the front with the application active.
    void showSetup();
    // Re-reads the model and the state and renders when anything changed.
    void refresh();

    void windowWillClose(platform::Window& window) override;
    void windowDidResize(platform::Window& window) override;
    void windowDidMiniaturize(platform::Window& window) override;
    void windowDidDeminiaturize(platform::Window& window) override;

    // The actions of the window's controls.
    void goBack();
    void goForward();
    void selectTerminal(platform::Control& sender);
    void openTerminal(platform::Control& sender);
    void refreshTerminals();
    void toggleHelp();
    void openLastPaste();
    void openHelp();
    void tryLater();
    void enableLogin();
    void deferLogin();
    void openLoginItems();

    platform::Window& window() const { return *window_; }
    platform::Label& progressLabel() const { return *progressLabel_; }
    platform::Label& headingLabel() const { return *headingLabel_; }
    platform::Button& backButton() const { return *backButton_; }
    platform::Button& continueButton() const { return *continueButton_; }
    platform::ScrollView& scrollView() const { return *scrollView_; }
    platform::StackView& pageStack() const { return *pageStack_; }
    const std::map<std::string, std::shared_ptr<platform::Button>>& terminalButtons() const { return terminalButtons_; }
    const std::map<std::string, std::shared_ptr<OnboardingTerminalRow>>& terminalRows() const { return terminalRows_; }
    platform::Button& refreshTerminalsButton() const { return *refreshTerminalsButton_; }
    PermissionActionRow& accessibilityRow() const { return *accessibilityRow_; }
    PermissionActionRow& automationRow() const { return *automationRow_; }
    PermissionActionRow& clipboardRow() const { return *clipboardRow_; }
    platform::Button& helpDisclosureButton() const { return *helpDisclosureButton_; }
    platform::StackView& helpContent() const { return *helpContent_; }
    platform::Button& helpButton() const { return *helpButton_; }
    platform::Button& lastPasteButton() const { return *lastPasteButton_; }
    platform::Button& pasteHelpButton() const { return *pasteHelpButton_; }
    platform::Button& tryLaterButton() const { return *tryLaterButton_; }
    platform::Button& loginEnableButton() const { return *loginEnableButton_; }
    platform::Button& loginNotNowButton() const { return *loginNotNowButton_; }
    platform::Button& loginItemsButton() const { return *loginItemsButton_; }
    platform::Label& loginChoiceLabel() const { return *loginChoiceLabel_; }
    platform::Label& loginStatusLabel() const { return *loginStatusLabel_; }
    platform::Label& loginMessageLabel() const { return *loginMessageLabel_; }
    platform::ImageView& loginStatusIcon() const { return *loginStatusIcon_; }
    platform::ProgressIndicator& loginProgressIndicator() const { return *loginProgressIndicator_; }
    platform::Label& pasteStatusLabel() const { return *pasteStatusLabel_; }
    platform::Label& pasteTitleLabel() const { return *pasteTitleLabel_; }
    platform::ImageView& pasteStatusIcon() const { return *pasteStatusIcon_; }
    platform::ProgressIndicator& pasteProgressIndicator() const { return *pasteProgressIndicator_; }
    // The pending terminal choice, which reaches the model only through the forward button.
    const std::optional<std::string>& chosenTerminalID() const { return chosenTerminalID_; }

    struct Token {
        explicit Token() = default;
    };
    OnboardingWindowController(Token, std::shared_ptr<OnboardingModel> model, ReadState state, Actions actions);

private:
    // Everything a render depends on.
    struct Presentation {
        OnboardingModel::Step step;
        OnboardingTerminalDiscovery::Snapshot terminals;
        std::optional<std::string> selectedTerminalID;
        std::optional<std::string> chosenTerminalID;
        bool completed;
        bool ready;
        bool firstPasteVerified;
        std::optional<OnboardingModel::LoginChoice> loginChoice;
        State state;
        bool operator==(const Presentation&) const = default;
    };
    Presentation presentation(const State& state) const;
    void connectActions();
    void buildChrome();
    // The page builders, in OnboardingPages.cpp.
    void buildPage();
    void buildWelcomePage();
    void buildTerminalPage();
    void buildPermissionsPage();
    void buildFirstPastePage();
    void buildFinishPage();
    std::shared_ptr<platform::View> welcomeIllustration();
    std::shared_ptr<platform::View> firstPasteInstructions();
    void addToPage(const std::shared_ptr<platform::View>& view, bool pageInsetAfter = false);
    void constrainWidth(platform::View& view, platform::View& to);
    void styleHelpDisclosure();
    // The state applied to the long-lived page elements on every render.
    void applyPermissions(const State& state);
    void applyFirstPaste(const State& state);
    void applyLogin(const State& state);
    void syncLoginChoiceButtons();
    void updateKeyViewLoop();
    void layOutNow();
    void invalidateDrawing(platform::View& view);
    std::string selectedTerminalName(const std::string& fallback) const;

    std::shared_ptr<platform::Label> progressLabel_;
    std::shared_ptr<platform::Label> headingLabel_;
    std::shared_ptr<platform::Button> backButton_;
    std::shared_ptr<platform::Button> continueButton_;
    std::shared_ptr<platform::ScrollView> scrollView_;
    std::shared_ptr<platform::StackView> pageStack_;
    std::map<std::string, std::shared_ptr<platform::Button>> terminalButtons_;
    std::map<std::string, std::shared_ptr<OnboardingTerminalRow>> terminalRows_;
    std::shared_ptr<platform::Button> refreshTerminalsButton_;
    std::shared_ptr<PermissionActionRow> accessibilityRow_;
    std::shared_ptr<PermissionActionRow> automationRow_;
    std::shared_ptr<PermissionActionRow> clipboardRow_;
    std::shared_ptr<platform::Button> helpDisclosureButton_;
    std::shared_ptr<platform::StackView> helpContent_;
    std::shared_ptr<platform::Button> helpButton_;
    std::shared_ptr<platform::Button> lastPasteButton_;
    std::shared_ptr<platform::Button> pasteHelpButton_;
    std::shared_ptr<platform::StackView> pasteRecoveryActions_;
    std::shared_ptr<platform::Button> tryLaterButton_;
    std::shared_ptr<platform::Button> loginEnableButton_;
    std::shared_ptr<platform::Button> loginNotNowButton_;
    std::shared_ptr<platform::Button> loginItemsButton_;
    std::shared_ptr<platform::Label> loginChoiceLabel_;
    std::shared_ptr<platform::Label> loginStatusLabel_;
    std::shared_ptr<platform::Label> loginMessageLabel_;
    std::shared_ptr<platform::ImageView> loginStatusIcon_;
    std::shared_ptr<platform::ProgressIndicator> loginProgressIndicator_;
    std::shared_ptr<platform::Label> pasteStatusLabel_;
    std::shared_ptr<platform::Label> pasteTitleLabel_;
    std::shared_ptr<platform::ImageView> pasteStatusIcon_;
    std::shared_ptr<platform::ProgressIndicator> pasteProgressIndicator_;
    std::shared_ptr<OnboardingModel> model_;
    ReadState readState_;
    Actions actions_;
    std::optional<OnboardingModel::Step> renderedStep_;
    std::vector<OnboardingTerminalDiscovery::Terminal> renderedTerminals_;
    std::optional<std::string> chosenTerminalID_;
    bool hasPositionedWindow_ = false;
    platform::ViewConstraints pageWidthConstraints_;
    std::optional<Presentation> lastPresentation_;
    std::shared_ptr<platform::Window> window_;
};

} // namespace tarpelix
