#pragma once

#include "platform/desktop/Updater.h"

namespace tarpelix {

// The framework's standard user driver, with our own words when no update was found.
class UpdateUserDriver final : public platform::StandardUserDriver {
public:
    using platform::StandardUserDriver::StandardUserDriver;

    // Keeps the error's domain and code, replaces its description and recovery suggestion.
    void showUpdateNotFound(const platform::UpdaterError& error, std::function<void()> acknowledgement) override;
};

} // namespace tarpelix
