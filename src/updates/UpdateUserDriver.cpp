#include "updates/UpdateUserDriver.h"

namespace tarpelix {

void UpdateUserDriver::showUpdateNotFound(const platform::UpdaterError& error,
                                          std::function<void()> acknowledgement) {
    platform::UpdaterError shown{error.domain, error.code, error.userInfo};
    shown.userInfo[platform::UpdaterError::localizedDescriptionKey] = "No Update Available";
    shown.userInfo[platform::UpdaterError::localizedRecoverySuggestionKey] =
        "No newer compatible release is available for this Mac.";
    platform::StandardUserDriver::showUpdateNotFound(shown, std::move(acknowledgement));
}

} // namespace tarpelix
