#include "paste/ClipboardPermissionSetup.h"

#include "platform/desktop/Pasteboard.h"

namespace tarpelix::ClipboardPermissionSetup {

namespace {
constexpr int defaultAccess = static_cast<int>(platform::PasteboardAccessBehavior::defaultBehavior);
constexpr int askAccess = static_cast<int>(platform::PasteboardAccessBehavior::ask);
constexpr int alwaysAllow = static_cast<int>(platform::PasteboardAccessBehavior::alwaysAllow);
} // namespace

Result request(const std::function<int()>& access, const std::function<std::optional<std::string>()>& firstType,
               const std::function<void(const std::string&)>& read) {
    int behavior = access();
    if (behavior == alwaysAllow) return Result::allowed;
    if (behavior != defaultAccess && behavior != askAccess) return Result::needsSettings;
    auto type = firstType();
    if (!type) return Result::empty;
    read(*type);
    return access() == alwaysAllow ? Result::allowed : Result::needsSettings;
}

} // namespace tarpelix::ClipboardPermissionSetup
