#include "platform/foundation/Files.h"

#include "platform/foundation/Uuid.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarpelix::platform::files {

namespace {
[[noreturn]] void throwErrno(const char* what) { throw std::system_error(errno, std::generic_category(), what); }
} // namespace

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

void FileDescriptor::close() noexcept {
    if (fd_ < 0) return;
    int fd = fd_;
    fd_ = -1;
    ::close(fd); // Linux releases the number even when close reports an error: never retry.
}

void FileDescriptor::closeChecked() {
    if (fd_ < 0) return;
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) throwErrno("close");
}

bool isMissing(const std::error_code& error) { return error == std::errc::no_such_file_or_directory; }

std::optional<struct stat> statusIfExists(const std::filesystem::path& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) == 0) return status;
    if (errno == ENOENT) return std::nullopt;
    throwErrno("lstat");
}

FileDescriptor openFile(const std::filesystem::path& path, int flags, mode_t mode) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) throwErrno("open");
    return FileDescriptor(fd);
}

FileDescriptor openAt(int directory, const char* name, int flags, mode_t mode) {
    int fd;
    do {
        fd = ::openat(directory, name, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) throwErrno("openat");
    return FileDescriptor(fd);
}

void writeAll(int fd, const std::uint8_t* data, std::size_t size) {
    std::size_t written = 0;
    while (written < size) {
        ssize_t n = ::write(fd, data + written, size - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            throwErrno("write");
        }
        written += static_cast<std::size_t>(n);
    }
}

Bytes readAll(int fd) { return *readAtMost(fd, std::numeric_limits<std::size_t>::max()); }

std::optional<Bytes> readAtMost(int fd, std::size_t limit) {
    Bytes bytes;
    // A regular file's remaining size is known: it is read into one allocation of that size,
    // with no copy, and a file already past the limit is not read at all.
    struct stat status {};
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
        off_t offset = ::lseek(fd, 0, SEEK_CUR);
        if (offset >= 0 && status.st_size > offset) {
            auto expected = static_cast<std::uint64_t>(status.st_size - offset);
            if (expected > limit) return std::nullopt;
            bytes.resize(static_cast<std::size_t>(expected));
            std::size_t filled = 0;
            while (filled < bytes.size()) {
                ssize_t n = ::read(fd, bytes.data() + filled, bytes.size() - filled);
                if (n < 0) {
                    if (errno == EINTR) continue;
                    throwErrno("read");
                }
                if (n == 0) break; // it shrank since
                filled += static_cast<std::size_t>(n);
            }
            bytes.resize(filled);
            if (filled < static_cast<std::size_t>(expected)) return bytes;
        }
    }
    // Whatever follows: the rest of a file that grew, or a stream of unknown length.
    std::uint8_t buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            throwErrno("read");
        }
        if (n == 0) return bytes;
        if (static_cast<std::size_t>(n) > limit - bytes.size()) return std::nullopt;
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
}

void writeNewFileDurably(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size,
                         mode_t mode) {
    auto file = openFile(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, mode);
    if (::fchmod(file.get(), mode) != 0) throwErrno("fchmod"); // the umask may have narrowed it
    writeAll(file.get(), data, size);
    if (::fsync(file.get()) != 0) throwErrno("fsync");
    file.closeChecked();
}

void replaceFileAtomically(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size,
                           mode_t mode, const std::filesystem::path& temporary) {
    auto staging = temporary;
    if (staging.empty())
        staging = path.parent_path() /
                  ("." + path.filename().string() + "." + Uuid::random().uuidString() + ".tmp");
    try {
        // Created exclusively and without following links; closed exactly once.
        writeNewFileDurably(staging, data, size, mode);
        renameReplacing(staging, path);
    } catch (...) {
        removeQuietly(staging);
        throw;
    }
}

void renameExclusive(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
        throwErrno("renameat2");
    }
}

void renameReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) throwErrno("rename");
}

void syncDirectory(const std::filesystem::path& directory) noexcept {
    int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

std::vector<std::string> directoryEntries(const std::filesystem::path& directory) {
    std::unique_ptr<DIR, int (*)(DIR*)> handle(::opendir(directory.c_str()), ::closedir);
    if (!handle) throwErrno("opendir");
    std::vector<std::string> names;
    errno = 0;
    while (auto* entry = ::readdir(handle.get())) {
        std::string_view name = entry->d_name;
        if (name != "." && name != "..") names.emplace_back(name);
        errno = 0;
    }
    if (errno != 0) throwErrno("readdir");
    return names;
}

void removeEntry(const std::filesystem::path& path) {
    if (::unlink(path.c_str()) != 0) throwErrno("unlink");
}

void removeQuietly(const std::filesystem::path& path) noexcept { ::unlink(path.c_str()); }

} // namespace tarpelix::platform::files
