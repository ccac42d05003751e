#include "platform/foundation/Bundle.h"

#include <mutex>
#include <sys/stat.h>

namespace tarpelix::platform {

namespace {

const std::string defaultResourceDirectory = TARPELIX_SOURCE_DIR "/resources";

struct BundleState {
    std::mutex mutex;
    std::string resourceDirectory = defaultResourceDirectory;
};

BundleState& bundle() {
    static auto* state = new BundleState(); // lives as long as the process
    return *state;
}

} // namespace

std::optional<std::string> Bundle::urlForResource(const std::string& name, const std::string& extension) {
    std::string path;
    {
        auto& state = bundle();
        std::lock_guard lock(state.mutex);
        path = state.resourceDirectory + "/" + name + "." + extension;
    }
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    return path;
}

void BundleControl::setResourceDirectory(const std::string& directory) {
    auto& state = bundle();
    std::lock_guard lock(state.mutex);
    state.resourceDirectory = directory;
}

void BundleControl::reset() { setResourceDirectory(defaultResourceDirectory); }

} // namespace tarpelix::platform
