#include "windows/OverlayPreference.h"

namespace tarpelix {

OverlayPreference::OverlayPreference(std::shared_ptr<platform::UserDefaults> defaults)
    : defaults_(std::move(defaults)) {}

bool OverlayPreference::isEnabled() const { return defaults_->boolean(key).value_or(true); }

void OverlayPreference::setEnabled(bool enabled) {
    if (enabled == isEnabled()) return;
    defaults_->set(key, platform::PropertyListValue(enabled));
    if (onChange) onChange(enabled);
}

} // namespace tarpelix
