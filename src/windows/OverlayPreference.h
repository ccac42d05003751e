#pragma once

#include "platform/foundation/UserDefaults.h"

#include <functional>
#include <memory>
#include <string>

namespace tarpelix {

// The persisted switch of the paste overlay under the user-defaults key "showPasteOverlay".
// It reads as on unless the key holds a Boolean (or a number exactly 0 or 1) that says off; a
// change is stored first and then told to `onChange`.
class OverlayPreference {
public:
    static inline const std::string key = "showPasteOverlay";

    explicit OverlayPreference(std::shared_ptr<platform::UserDefaults> defaults = platform::UserDefaults::standard());
    static std::shared_ptr<OverlayPreference> create(
        std::shared_ptr<platform::UserDefaults> defaults = platform::UserDefaults::standard()) {
        return std::make_shared<OverlayPreference>(std::move(defaults));
    }

    bool isEnabled() const;
    // Writing the value it already reads does nothing; otherwise stores it, then calls onChange.
    void setEnabled(bool enabled);

    // Told every stored change, with the new value.
    std::function<void(bool)> onChange;

private:
    std::shared_ptr<platform::UserDefaults> defaults_;
};

} // namespace tarpelix
