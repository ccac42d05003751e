#include "onboarding/OnboardingModel.h"

#include "platform/foundation/JsonReader.h"
#include "platform/foundation/UserDefaults.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace tarpelix {

using Step = OnboardingModel::Step;

const std::string& rawValue(OnboardingModel::LoginChoice choice) {
    static const std::string enable = "enable";
    static const std::string notNow = "notNow";
    return choice == OnboardingModel::LoginChoice::enable ? enable : notNow;
}

namespace {

Step later(Step a, Step b) { return static_cast<int>(a) >= static_cast<int>(b) ? a : b; }

} // namespace

OnboardingModel::Progress OnboardingModel::load(const platform::UserDefaults& defaults) {
    auto data = defaults.data(preferenceKey);
    if (!data) return {};
    try {
        using namespace platform::json;
        // Another program may have written the value: one far larger than any progress written
        // (about 200 bytes) is damaged, and is not parsed.
        constexpr Limits limits{64 * 1024, 1024, 8};
        const auto object =
            parse(std::string_view(reinterpret_cast<const char*>(data->data()), data->size()), limits);
        if (!object.is_object()) return {};
        Progress progress;
        progress.presented = requiredBool(object, "presented");
        const auto raw = requiredInt64(object, "step");
        if (raw < 0 || raw >= stepCount) return {};
        progress.step = static_cast<Step>(raw);
        progress.selectedTerminalID = optionalString(object, "selectedTerminalID");
        progress.completed = requiredBool(object, "completed");
        progress.firstPasteVerified = requiredBool(object, "firstPasteVerified");
        if (auto choice = optionalString(object, "loginChoice")) {
            if (*choice == rawValue(LoginChoice::enable)) progress.loginChoice = LoginChoice::enable;
            else if (*choice == rawValue(LoginChoice::notNow)) progress.loginChoice = LoginChoice::notNow;
            else return {};
        }
        return progress;
    } catch (const platform::JsonDecodingError&) {
        return {};
    }
}

OnboardingModel::OnboardingModel(std::shared_ptr<platform::UserDefaults> defaults, Discover discover,
                                 PermissionsReady permissionsReady)
    : defaults_(std::move(defaults)), discover_(std::move(discover)), permissionsReady_(std::move(permissionsReady)) {
    progress_ = load(*defaults_);
    terminals_ = discover_();
    proposedTerminalID_ = terminals_.preferredID(progress_.selectedTerminalID);
    step_ = progress_.step;
}

bool OnboardingModel::isReady() const {
    const auto& id = progress_.selectedTerminalID;
    return id && terminals_.terminal(id) && permissionsReady_(*id);
}

void OnboardingModel::save() {
    nlohmann::json object = {
        {"presented", progress_.presented},
        {"step", static_cast<int>(progress_.step)},
        {"completed", progress_.completed},
        {"firstPasteVerified", progress_.firstPasteVerified},
    };
    if (progress_.selectedTerminalID) object["selectedTerminalID"] = *progress_.selectedTerminalID;
    if (progress_.loginChoice) object["loginChoice"] = rawValue(*progress_.loginChoice);
    std::string text;
    try {
        text = object.dump();
    } catch (const nlohmann::json::exception&) {
        return; // not encodable (a terminal id that is not UTF-8): keep what is stored
    }
    platform::Bytes data(text.begin(), text.end());
    // Refreshes and closes save too; skipping an unchanged value keeps them from rewriting the
    // whole defaults file at every activation and terminal launch.
    if (defaults_->data(preferenceKey) == data) return;
    defaults_->set(preferenceKey, std::move(data));
}

void OnboardingModel::saveIfPresented() {
    if (hasPresented()) save();
}

void OnboardingModel::raiseProgress(Step step) { progress_.step = later(progress_.step, step); }

void OnboardingModel::present() {
    progress_.presented = true;
    isVisible_ = true;
    step_ = progress_.completed ? Step::firstPaste : progress_.step;
    refresh();
    save();
}

void OnboardingModel::refresh() {
    terminals_ = discover_();
    if (progress_.selectedTerminalID && !terminals_.terminal(progress_.selectedTerminalID)) {
        progress_.selectedTerminalID.reset();
        if (!progress_.completed) progress_.step = Step::terminal;
    }
    proposedTerminalID_ = terminals_.preferredID(progress_.selectedTerminalID);
    if (isVisible_ && step_ != Step::welcome) {
        if (!progress_.selectedTerminalID) {
            step_ = Step::terminal;
        } else if (static_cast<int>(step_) >= static_cast<int>(Step::firstPaste) && !isReady()) {
            step_ = Step::permissions;
        }
    }
    saveIfPresented();
}

void OnboardingModel::close() {
    isVisible_ = false;
    saveIfPresented();
}

bool OnboardingModel::confirmTerminal(const std::string& id) {
    refresh();
    if (!isVisible_ || step_ != Step::terminal || !terminals_.terminal(id)) return false;
    if (progress_.selectedTerminalID != id) {
        progress_.selectedTerminalID = id;
        progress_.step = Step::permissions;
    }
    proposedTerminalID_ = id;
    step_ = Step::permissions;
    if (!progress_.completed) raiseProgress(Step::permissions);
    save();
    return true;
}

bool OnboardingModel::continueSetup() {
    if (!isVisible_) return false;
    refresh();
    switch (step_) {
    case Step::welcome:
        step_ = Step::terminal;
        if (!progress_.completed && progress_.step == Step::welcome) progress_.step = Step::terminal;
        save();
        return true;
    case Step::terminal:
        return false;
    case Step::permissions:
        if (!isReady()) return false;
        if (progress_.completed) {
            step_ = Step::firstPaste;
        } else {
            step_ = later(Step::firstPaste, progress_.step);
            raiseProgress(Step::firstPaste);
        }
        save();
        return true;
    case Step::firstPaste:
        if (!progress_.firstPasteVerified) return false;
        if (progress_.completed) {
            isVisible_ = false;
            saveIfPresented();
        } else {
            step_ = Step::finish;
            raiseProgress(Step::finish);
            save();
        }
        return true;
    case Step::finish:
        return false;
    }
    return false;
}

void OnboardingModel::back() {
    if (!isVisible_ || step_ == Step::welcome) return;
    step_ = static_cast<Step>(static_cast<int>(step_) - 1);
}

void OnboardingModel::tryLater() {
    if (!isVisible_ || step_ != Step::firstPaste || !isReady()) return;
    if (!progress_.completed) {
        step_ = Step::finish;
        raiseProgress(Step::finish);
        save();
    } else {
        isVisible_ = false;
        saveIfPresented();
    }
}

void OnboardingModel::recordFirstPasteSuccess() {
    if (progress_.firstPasteVerified) return;
    progress_.firstPasteVerified = true;
    saveIfPresented(); // before setup was shown it reaches the defaults with the first save
}

bool OnboardingModel::recordLoginChoice(LoginChoice choice) {
    if (!isVisible_ || progress_.completed || step_ != Step::finish) return false;
    progress_.loginChoice = choice;
    save();
    return true;
}

bool OnboardingModel::finish() {
    refresh();
    if (!isVisible_ || step_ != Step::finish || !progress_.loginChoice || !isReady()) return false;
    progress_.completed = true;
    save();
    isVisible_ = false;
    saveIfPresented();
    return true;
}

} // namespace tarpelix
