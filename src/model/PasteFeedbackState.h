#pragma once

#include "model/PasteFeedback.h"

#include <functional>
#include <optional>

namespace tarpelix {

// Holds the one current paste feedback and is the only place where it changes. Every
// accepted change is published as a whole new value; changes that would move a paste
// backwards or touch another paste's feedback are dropped. Main thread only.
class PasteFeedbackState final {
public:
    std::function<void(const PasteFeedback&)> publish = [](const PasteFeedback&) {};

    const std::optional<PasteFeedback>& current() const { return current_; }

    void begin(const platform::Uuid& operationID);
    void advance(const platform::Uuid& operationID, PasteFeedback::Stage stage,
                 const std::optional<std::string>& destination);
    void complete(const platform::Uuid& operationID, PasteFeedback::Outcome outcome,
                  const std::optional<std::string>& explanation, bool uploaded);
    void dismiss(const platform::Uuid& operationID);

private:
    void store(const PasteFeedback& feedback);

    std::optional<PasteFeedback> current_;
    bool dismissed_ = false;
};

} // namespace tarpelix
