#pragma once

#include "app/AppDelegate.h"
#include "platform/foundation/Bytes.h"
#include "platform/foundation/Uuid.h"
#include "storage/TransferStorage.h"

#include <functional>
#include <memory>
#include <optional>

// Closures the delegate hands to its services: each reaches the delegate while it lives and
// does nothing once it is gone.
namespace tarpelix {

// Refreshes the delegate's menu.
inline std::function<void()> weakRefresh(const std::weak_ptr<AppDelegate>& weak) {
    return [weak] {
        if (auto self = weak.lock()) self->refreshMenu();
    };
}

// Reads a retained image from the delegate's storage.
inline std::function<void(const platform::Uuid&, std::function<void(std::optional<platform::Bytes>)>)>
weakReadImage(const std::weak_ptr<AppDelegate>& weak) {
    return [weak](const platform::Uuid& id, std::function<void(std::optional<platform::Bytes>)> completion) {
        if (auto self = weak.lock()) self->transferStorage()->readImage(id, std::move(completion));
    };
}

} // namespace tarpelix
