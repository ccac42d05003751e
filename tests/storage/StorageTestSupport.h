#pragma once

#include "paste/model/TransferRecord.h"
#include "platform/foundation/Bytes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <unistd.h>

namespace tarpelix::testing {

// A private temporary directory, removed with everything in it (modes restored first).
class ScratchDirectory {
public:
    ScratchDirectory() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/tarpelix-storage-XXXXXX";
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~ScratchDirectory() {
        std::error_code error;
        for (auto it = std::filesystem::recursive_directory_iterator(path_, error);
             !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
            if (it->is_directory(error) && !it->is_symlink(error)) {
                std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::add, error);
            }
        }
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                     error);
        std::filesystem::remove_all(path_, error);
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

inline void writeFile(const std::filesystem::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

inline unsigned modeOf(const std::filesystem::path& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) return 0;
    return status.st_mode & 07777;
}

// Deterministic bytes standing in for a PNG of a record.
inline platform::Bytes pngBytes(std::size_t size, std::uint8_t seed = 1) {
    platform::Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed * 31 + i * 7);
    return bytes;
}

inline TransferRecord makeRecord(double createdAt, std::int64_t imageSize = 0) {
    TransferRecord record;
    record.createdAt = platform::Date{createdAt};
    record.updatedAt = record.createdAt;
    record.terminal = "com.mitchellh.ghostty";
    record.transport = "ssh";
    record.destinationIdentity = "me@example.org:22";
    record.imageSize = imageSize;
    return record;
}

// A record that counts as a successful paste.
inline TransferRecord succeeded(TransferRecord record, const std::string& identity = "me@example.org") {
    record.destinationIdentity = identity;
    record.confirmedRemotePath = "/home/me/.cache/tarpelix/uploads/" + record.id.uuidString() + ".png";
    record.uploadOutcome = TransferOutcome::succeeded;
    record.insertionOutcome = TransferOutcome::succeeded;
    return record;
}

} // namespace tarpelix::testing
