#pragma once

#include "platform/foundation/PropertyList.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace tarpelix::platform {

// The application's preferences: typed values by key, kept in one XML property-list file.
// Values are read once and cached; every change replaces the whole file atomically (mode
// 0600). A missing or unreadable file reads as empty, and the next change replaces it. Values
// whose file would be too large to read back are not written: the file that reads is kept.
// Any thread may use an instance.
class UserDefaults {
public:
    // The application's own: "$XDG_CONFIG_HOME/Tarpelix/UserDefaults.plist" (or under
    // "~/.config"), located when first asked for.
    static std::shared_ptr<UserDefaults> standard();
    // Kept in the given file (its directory is created when first written).
    static std::shared_ptr<UserDefaults> create(std::filesystem::path file);

    explicit UserDefaults(std::filesystem::path file);
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    const std::filesystem::path& file() const { return file_; }

    std::optional<PropertyListValue> object(std::string_view key) const;
    // A Boolean, or a number exactly 0 or 1; none for anything else.
    std::optional<bool> boolean(std::string_view key) const;
    std::optional<std::int64_t> integer(std::string_view key) const;
    // An integer or a real.
    std::optional<double> real(std::string_view key) const;
    std::optional<std::string> string(std::string_view key) const;
    std::optional<Bytes> data(std::string_view key) const;

    void set(std::string_view key, PropertyListValue value);
    void removeObject(std::string_view key);

    // Writes the current values now; false when the file could not be replaced or the values
    // would not read back from it (the values stay in memory and every later change tries
    // again).
    bool synchronize();

private:
    void loadIfNeeded() const;                                                  // with mutex_ held
    template <typename T> std::optional<T> valueOf(std::string_view key) const; // exactly of that type
    bool persist();

    std::filesystem::path file_;
    mutable std::mutex mutex_; // guards the fields below
    mutable bool loaded_ = false;
    mutable PropertyListValue::Dictionary values_;
    std::uint64_t generation_ = 0; // counts changes

    std::mutex writeMutex_; // orders file writes; taken without mutex_ held
    std::uint64_t writtenGeneration_ = 0;
};

} // namespace tarpelix::platform
