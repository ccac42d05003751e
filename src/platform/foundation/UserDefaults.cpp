#include "platform/foundation/UserDefaults.h"

#include "platform/foundation/Files.h"
#include "platform/foundation/LinuxProfile.h"

namespace tarpelix::platform {

std::shared_ptr<UserDefaults> UserDefaults::standard() {
    static const auto instance = create(std::filesystem::path(LinuxProfile::userDefaultsDirectory()) /
                                        "Tarpelix" / "UserDefaults.plist");
    return instance;
}

std::shared_ptr<UserDefaults> UserDefaults::create(std::filesystem::path file) {
    return std::make_shared<UserDefaults>(std::move(file));
}

UserDefaults::UserDefaults(std::filesystem::path file) : file_(std::move(file)) {}

void UserDefaults::loadIfNeeded() const {
    if (loaded_) return;
    loaded_ = true;
    auto root = PropertyList::readFile(file_);
    if (auto* dictionary = root ? root->get<PropertyListValue::Dictionary>() : nullptr)
        values_ = std::move(*dictionary);
}

std::optional<PropertyListValue> UserDefaults::object(std::string_view key) const {
    std::lock_guard lock(mutex_);
    loadIfNeeded();
    auto found = values_.find(key);
    if (found == values_.end()) return std::nullopt;
    return found->second;
}

std::optional<bool> UserDefaults::boolean(std::string_view key) const {
    auto value = object(key);
    return value ? value->convertedToBoolean() : std::nullopt;
}

template <typename T> std::optional<T> UserDefaults::valueOf(std::string_view key) const {
    auto value = object(key);
    auto* typed = value ? value->get<T>() : nullptr;
    return typed ? std::optional<T>(*typed) : std::nullopt;
}

std::optional<std::int64_t> UserDefaults::integer(std::string_view key) const {
    return valueOf<std::int64_t>(key);
}

std::optional<double> UserDefaults::real(std::string_view key) const {
    auto value = object(key);
    return value ? value->number() : std::nullopt;
}

std::optional<std::string> UserDefaults::string(std::string_view key) const {
    return valueOf<std::string>(key);
}

std::optional<Bytes> UserDefaults::data(std::string_view key) const {
    return valueOf<Bytes>(key);
}

void UserDefaults::set(std::string_view key, PropertyListValue value) {
    {
        std::lock_guard lock(mutex_);
        loadIfNeeded();
        values_.insert_or_assign(std::string(key), std::move(value));
        ++generation_;
    }
    persist();
}

void UserDefaults::removeObject(std::string_view key) {
    {
        std::lock_guard lock(mutex_);
        loadIfNeeded();
        auto found = values_.find(key);
        if (found == values_.end()) return;
        values_.erase(found);
        ++generation_;
    }
    persist();
}

bool UserDefaults::synchronize() {
    return persist();
}

bool UserDefaults::persist() {
    std::optional<std::string> text;
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(mutex_);
        loadIfNeeded();
        // Written from the values themselves, not a copy: they may be as large as a list that is
        // read, and the text stops at the size a file is read at.
        text = PropertyList::xml(values_);
        generation = generation_;
    }
    std::lock_guard write(writeMutex_);
    // Each text holds every earlier change, so an older one never overwrites a newer.
    if (generation < writtenGeneration_) return true;
    // Values whose text would not be read back keep the file that is: they stay in memory.
    if (!text) return false;
    try {
        std::error_code ignored; // a directory that cannot be made fails the write below
        std::filesystem::create_directories(file_.parent_path(), ignored);
        files::replaceFileAtomically(file_, reinterpret_cast<const std::uint8_t*>(text->data()), text->size(),
                                     0600);
    } catch (const std::system_error&) {
        return false;
    }
    writtenGeneration_ = generation;
    return true;
}

} // namespace tarpelix::platform
