#include "storage/RetainedImageName.h"

#include "platform/foundation/Uuid.h"

namespace tarpelix {

bool isRetainedImageName(std::string_view name) {
    if (name.size() > 4 && name.ends_with(".png")) {
        return platform::Uuid::isCanonicalText(name.substr(0, name.size() - 4));
    }
    if (name.size() > 5 && name.starts_with(".") && name.ends_with(".tmp")) {
        return platform::Uuid::isCanonicalText(name.substr(1, name.size() - 5));
    }
    return false;
}

} // namespace tarpelix
