#include "platform/foundation/Bundle.h"

#include <filesystem>
#include <mutex>
#include <sys/stat.h>

namespace tarpelix::platform {

namespace {

const std::string defaultResourceDirectory = TARPELIX_SOURCE_DIR "/resources";

URL executableDirectoryURL() {
    std::error_code error;
    auto executable = std::filesystem::read_symlink("/proc/self/exe", error); // already resolved
    return URL::fileURL(error ? "/" : executable.parent_path().string(), true);
}

struct BundleState {
    std::mutex mutex;
    std::string resourceDirectory = defaultResourceDirectory;
    std::optional<URL> bundleURL;                      // none: the executable's directory
    std::optional<PropertyListValue::Dictionary> info; // read once per resource directory
};

BundleState& bundle() {
    static auto* state = new BundleState(); // lives as long as the process
    return *state;
}

PropertyListValue::Dictionary readInfoDictionary(const std::string& path) {
    auto root = PropertyList::readFile(path);
    auto* dictionary = root ? root->get<PropertyListValue::Dictionary>() : nullptr;
    return dictionary ? *dictionary : PropertyListValue::Dictionary{};
}

} // namespace

URL Bundle::bundleURL() {
    {
        auto& state = bundle();
        std::lock_guard lock(state.mutex);
        if (state.bundleURL) return *state.bundleURL;
    }
    static const URL executableDirectory = executableDirectoryURL();
    return executableDirectory;
}

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

PropertyListValue::Dictionary Bundle::infoDictionary() {
    auto& state = bundle();
    std::string directory;
    {
        std::lock_guard lock(state.mutex);
        if (state.info) return *state.info;
        directory = state.resourceDirectory;
    }
    auto info = readInfoDictionary(directory + "/Info.plist");
    std::lock_guard lock(state.mutex);
    if (state.resourceDirectory == directory) state.info = info; // not if it moved meanwhile
    return info;
}

std::optional<PropertyListValue> Bundle::objectForInfoDictionaryKey(const std::string& key) {
    auto info = infoDictionary();
    auto found = info.find(key);
    if (found == info.end()) return std::nullopt;
    return found->second;
}

void BundleControl::setResourceDirectory(const std::string& directory) {
    auto& state = bundle();
    std::lock_guard lock(state.mutex);
    state.resourceDirectory = directory;
    state.info.reset();
}

void BundleControl::setBundleURL(const URL& url) {
    auto& state = bundle();
    std::lock_guard lock(state.mutex);
    state.bundleURL = url;
}

void BundleControl::reset() {
    auto& state = bundle();
    std::lock_guard lock(state.mutex);
    state.resourceDirectory = defaultResourceDirectory;
    state.bundleURL.reset();
    state.info.reset();
}

} // namespace tarpelix::platform
