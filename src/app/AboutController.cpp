#include "app/AboutController.h"

#include "platform/appkit/Application.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/MainThread.h"

namespace tarpelix {

using namespace platform;

namespace {

std::optional<std::string> string(const PropertyListValue::Dictionary& info, const char* key) {
    const auto entry = info.find(key);
    if (entry == info.end()) return std::nullopt;
    const auto* value = entry->second.get<std::string>();
    return value ? std::optional(*value) : std::nullopt;
}

} // namespace

AboutController::Metadata AboutController::Metadata::fromInfoDictionary(const PropertyListValue::Dictionary& info) {
    auto name = string(info, "CFBundleDisplayName");
    if (!name) name = string(info, "CFBundleName");
    return {std::move(name), string(info, "CFBundleShortVersionString"), string(info, "CFBundleVersion")};
}

AboutController::Metadata AboutController::Metadata::mainBundle() {
    return fromInfoDictionary(Bundle::infoDictionary());
}

std::optional<GraphicsImage> AboutController::applicationIcon() {
    return Application::shared().applicationIconImage();
}

void AboutController::presentStandardPanel(const AboutPanelOptions& options) {
    auto& application = Application::shared();
    application.activate();
    application.orderFrontStandardAboutPanel(options);
}

AboutController::AboutController(Metadata metadata, Icon icon, Present present)
    : metadata_(std::move(metadata)), icon_(std::move(icon)), present_(std::move(present)) {}

void AboutController::show() const {
    requireMainThread("AboutController::show");
    present_({
        .applicationName = metadata_.name,
        .applicationVersion = metadata_.version,
        .version = metadata_.build,
        .credits = AttributedString(),
        .applicationIcon = icon_ ? icon_() : std::nullopt,
    });
}

} // namespace tarpelix
