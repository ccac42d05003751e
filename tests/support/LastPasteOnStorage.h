#pragma once

#include "storage/TransferStorage.h"
#include "windows/LastPasteWindowController.h"

#include <memory>

namespace tarpelix::testing {

// The Last Paste Status window over a transfer storage, as the application wires it: the
// closures hold the storage weakly.
inline std::shared_ptr<LastPasteWindowController> lastPasteWindowOn(const std::shared_ptr<TransferStorage>& storage) {
    std::weak_ptr<TransferStorage> weak = storage;
    return LastPasteWindowController::create(
        [weak](LastPasteWindowController::LoadCompletion completion) {
            if (auto strong = weak.lock()) strong->loadLatestAttempt(std::move(completion));
        },
        [weak](const platform::Uuid& id, LastPasteWindowController::ReadCompletion completion) {
            if (auto strong = weak.lock()) strong->readImage(id, std::move(completion));
        });
}

} // namespace tarpelix::testing
