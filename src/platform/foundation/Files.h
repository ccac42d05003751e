#pragma once

#include "platform/foundation/Bytes.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <sys/stat.h>
#include <string>
#include <system_error>
#include <vector>

// Small POSIX file helpers for private data files: descriptors that close exactly once,
// status without following a final symbolic link, complete reads and writes, durable
// exclusive creation and the exclusive rename. Failures are std::system_error with errno.
namespace tarpelix::platform::files {

// Owns one open descriptor. Closing is idempotent: after the first close the object holds
// no number, so a descriptor number that the process has since reused is never closed.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { close(); }
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

    // Closes quietly (errors ignored); does nothing when already closed.
    void close() noexcept;
    // Closes and reports the close's own failure as a system_error; nothing when already closed.
    void closeChecked();

private:
    int fd_ = -1;
};

// True for the "no such file" condition.
bool isMissing(const std::error_code& error);

// The status of the path itself (a final symbolic link is not followed); none when the path
// does not exist. Any other failure throws.
std::optional<struct stat> statusIfExists(const std::filesystem::path& path);

// Opens with the given flags (O_CLOEXEC is added); throws on failure.
FileDescriptor openFile(const std::filesystem::path& path, int flags, mode_t mode = 0);
FileDescriptor openAt(int directory, const char* name, int flags, mode_t mode = 0);

void writeAll(int fd, const std::uint8_t* data, std::size_t size);
Bytes readAll(int fd);
// Everything up to the end when that is at most `limit` bytes; none once it is more.
std::optional<Bytes> readAtMost(int fd, std::size_t limit);

// Creates `path` (it must not exist; a symbolic link there is refused) with exactly `mode`,
// writes the bytes, synchronizes them to disk and closes the file. Throws on any failure;
// a partly written file may be left behind for the caller to remove.
void writeNewFileDurably(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size,
                         mode_t mode = 0600);

// Replaces `path` with a new file of exactly `mode` holding the bytes, so that readers see the
// old content or the new, never a part: the bytes go durably into `temporary` (by default a
// fresh hidden name beside `path`), which is then renamed onto `path`. On failure the
// temporary is removed and the error rethrown; `path` keeps its old content.
void replaceFileAtomically(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size,
                           mode_t mode = 0600, const std::filesystem::path& temporary = {});

// Renames `from` to `to`, failing with EEXIST when `to` exists (renameat2 RENAME_NOREPLACE).
void renameExclusive(const std::filesystem::path& from, const std::filesystem::path& to);
// Renames `from` onto `to`, replacing what is there.
void renameReplacing(const std::filesystem::path& from, const std::filesystem::path& to);

// Synchronizes a directory's entries to disk (after a rename into it); errors are ignored.
void syncDirectory(const std::filesystem::path& directory) noexcept;

// The names in a directory (hidden ones included, "." and ".." left out), in listing order.
std::vector<std::string> directoryEntries(const std::filesystem::path& directory);

// Removes a file or symbolic link (never a link's target); throws on failure, ENOENT included.
void removeEntry(const std::filesystem::path& path);

// Removes quietly; errors ignored.
void removeQuietly(const std::filesystem::path& path) noexcept;

} // namespace tarpelix::platform::files
