#pragma once

#include "onboarding/OnboardingTerminalDiscovery.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tarpelix::platform {
class UserDefaults;
}

namespace tarpelix {

// The first-run setup's step machine and its persisted progress: which step is shown, which
// terminal the user chose, whether setup was completed and the first paste verified, and the
// launch-at-login answer. It decides which step may be left and where a step leads, re-checks
// its gates against the discovered terminals and the permissions, and keeps its progress as
// one JSON value in the user defaults so that setup resumes where it stopped. It writes
// nothing before setup was first shown. Main thread only.
class OnboardingModel {
public:
    enum class Step { welcome = 0, terminal = 1, permissions = 2, firstPaste = 3, finish = 4 };
    static constexpr int stepCount = 5;
    enum class LoginChoice { enable, notNow };

    static inline const std::string preferenceKey = "onboardingProgress";

    using Discover = std::function<OnboardingTerminalDiscovery::Snapshot()>;
    // Whether everything a paste into that terminal needs is allowed.
    using PermissionsReady = std::function<bool(const std::string& terminalID)>;

    // Loads the stored progress (a fresh one when there is none or it does not decode) and
    // discovers the terminals; writes nothing.
    OnboardingModel(std::shared_ptr<platform::UserDefaults> defaults, Discover discover,
                    PermissionsReady permissionsReady);

    // Shows setup: on the first paste when completed, else where it stopped.
    void present();
    // Discovers again and pulls the step back when its gate no longer holds.
    void refresh();
    void close();

    // Confirms the chosen terminal on the terminal step.
    bool confirmTerminal(const std::string& id);
    bool continueSetup();
    void back();
    // Skips the first paste while everything is ready.
    void tryLater();
    void recordFirstPasteSuccess();
    bool recordLoginChoice(LoginChoice choice);
    bool finish();

    Step step() const { return step_; }
    bool isVisible() const { return isVisible_; }
    const OnboardingTerminalDiscovery::Snapshot& terminals() const { return terminals_; }
    const std::optional<std::string>& proposedTerminalID() const { return proposedTerminalID_; }
    // Setup was shown at least once; only then does the model write to the user defaults.
    bool hasPresented() const { return progress_.presented; }
    // The furthest step reached, as stored.
    Step furthestStep() const { return progress_.step; }

    const std::optional<std::string>& selectedTerminalID() const { return progress_.selectedTerminalID; }
    bool isCompleted() const { return progress_.completed; }
    bool firstPasteVerified() const { return progress_.firstPasteVerified; }
    std::optional<LoginChoice> loginChoice() const { return progress_.loginChoice; }
    bool shouldPresentAutomatically() const { return !hasPresented(); }
    bool needsFirstPaste() const { return progress_.completed && !progress_.firstPasteVerified; }
    bool isReady() const;

private:
    struct Progress {
        bool presented = false;
        Step step = Step::welcome;
        std::optional<std::string> selectedTerminalID;
        bool completed = false;
        bool firstPasteVerified = false;
        std::optional<LoginChoice> loginChoice;
    };
    static Progress load(const platform::UserDefaults& defaults);
    // Stores the progress unless the defaults already hold exactly that value.
    void save();
    void saveIfPresented();
    void raiseProgress(Step step);

    std::shared_ptr<platform::UserDefaults> defaults_;
    Discover discover_;
    PermissionsReady permissionsReady_;
    Progress progress_;
    bool isVisible_ = false;
    Step step_ = Step::welcome;
    OnboardingTerminalDiscovery::Snapshot terminals_;
    std::optional<std::string> proposedTerminalID_;
};

const std::string& rawValue(OnboardingModel::LoginChoice choice);

} // namespace tarpelix
