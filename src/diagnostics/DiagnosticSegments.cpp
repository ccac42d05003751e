// The on-disk side of the diagnostic store: the private directory, segment files, safe
// writes and deletes, and the load-and-prune pass with its retention arithmetic.
#include "diagnostics/DiagnosticStore.h"

#include "platform/foundation/Files.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/stat.h>

namespace tarpelix {

namespace files = platform::files;

namespace {
constexpr std::string_view prefix = "diagnostic-";

[[noreturn]] void throwErrno(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

bool isOwnedName(std::string_view name) {
    if (!name.starts_with(prefix)) return false;
    std::string_view extension;
    if (name.ends_with(".jsonl")) {
        extension = ".jsonl";
    } else if (name.ends_with(".tmp")) {
        extension = ".tmp";
    } else {
        return false;
    }
    return platform::Uuid::isCanonicalText(name.substr(prefix.size(), name.size() - prefix.size() - extension.size()));
}

// Creates the directory and any missing parents with mode 0700.
void createDirectories(const std::filesystem::path& directory) {
    std::filesystem::path partial;
    for (const auto& component : directory) {
        partial /= component;
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) throwErrno("mkdir");
    }
}

// The largest segment file the store writes: a segment stops growing at the segment limit,
// and only a single line longer than that limit makes one larger.
std::size_t largestSegmentFile(const DiagnosticPolicy& policy) {
    return std::max(static_cast<std::size_t>(policy.segmentByteLimit), DiagnosticEvent::maxLineBytes + 1);
}

double modificationTime(const struct stat& status) {
    return static_cast<double>(status.st_mtim.tv_sec) + static_cast<double>(status.st_mtim.tv_nsec) / 1e9;
}
} // namespace

std::filesystem::path DiagnosticStore::newSegmentURL() const {
    return root_ / (std::string(prefix) + platform::Uuid::random().uuidString() + ".jsonl");
}

void DiagnosticStore::ensureDirectory() {
    if (auto status = files::statusIfExists(root_)) {
        if (!S_ISDIR(status->st_mode) || !(status->st_mode & S_IWUSR)) throw DiagnosticError::unavailable;
    } else {
        createDirectories(root_);
    }
    auto status = files::statusIfExists(root_);
    if (!status) throw std::system_error(ENOENT, std::generic_category(), "lstat");
    if (!S_ISDIR(status->st_mode)) throw DiagnosticError::unavailable;
    if (::chmod(root_.c_str(), 0700) != 0) throwErrno("chmod");
}

std::vector<std::filesystem::path> DiagnosticStore::ownedFiles() const {
    std::vector<std::filesystem::path> owned;
    for (const auto& name : files::directoryEntries(root_)) {
        if (isOwnedName(name)) owned.push_back(root_ / name);
    }
    return owned;
}

void DiagnosticStore::deleteFile(const std::filesystem::path& url) {
    try {
        auto status = files::statusIfExists(url);
        if (status) {
            if (!S_ISREG(status->st_mode) && !S_ISLNK(status->st_mode)) throw DiagnosticError::deleteFailed;
            if (fileOperation_) fileOperation_(DiagnosticFileOperation::deleteFile, url);
            files::removeEntry(url);
        }
    } catch (const std::system_error& error) {
        if (!files::isMissing(error.code())) throw DiagnosticError::deleteFailed;
    } catch (...) {
        throw DiagnosticError::deleteFailed;
    }
    std::erase_if(segments_, [&](const Segment& segment) { return segment.url == url; });
}

void DiagnosticStore::write(const std::string& data, const std::filesystem::path& url) {
    // Named as the store's own, so that a load after a crash clears one left behind.
    auto temporary = root_ / (std::string(prefix) + platform::Uuid::random().uuidString() + ".tmp");
    try {
        if (fileOperation_) fileOperation_(DiagnosticFileOperation::write, url);
        files::replaceFileAtomically(url, reinterpret_cast<const std::uint8_t*>(data.data()), data.size(),
                                     0600, temporary);
    } catch (...) {
        throw DiagnosticError::writeFailed;
    }
}

void DiagnosticStore::persist(const DiagnosticEvent& event) {
    if (!(event.timestamp > clock_().addingSeconds(-policy_.maxAge))) return; // expired: dropped silently
    auto line = event.json() + "\n";
    auto lineSize = static_cast<std::int64_t>(line.size());
    if (lineSize > policy_.totalByteLimit) throw DiagnosticError::writeFailed;
    ensureDirectory();

    auto fresh = [&] { return Segment{newSegmentURL(), {}, {}}; };
    Segment target = !segments_.empty() && static_cast<std::int64_t>(segments_.back().data.size()) + lineSize <=
                                               policy_.segmentByteLimit
                         ? segments_.back()
                         : fresh();
    std::int64_t total = 0;
    for (const auto& segment : segments_) total += static_cast<std::int64_t>(segment.data.size());
    // The target's own bytes count twice here when it is the existing last segment.
    while (total + static_cast<std::int64_t>(target.data.size()) + lineSize > policy_.totalByteLimit &&
           !segments_.empty()) {
        auto oldest = segments_.front();
        deleteFile(oldest.url);
        total -= static_cast<std::int64_t>(oldest.data.size());
        if (oldest.url == target.url) target = fresh();
    }
    target.events.push_back(event);
    target.data += line;
    write(target.data, target.url);
    auto it = std::find_if(segments_.begin(), segments_.end(), [&](const Segment& s) { return s.url == target.url; });
    if (it != segments_.end()) {
        *it = std::move(target);
    } else {
        segments_.push_back(std::move(target));
    }
}

void DiagnosticStore::loadAndPrune() {
    if (!policy_.isUsable()) throw DiagnosticError::unavailable;
    ensureDirectory();
    lastFailure_.reset();
    auto cutoff = clock_().addingSeconds(-policy_.maxAge);
    const auto largestFile = largestSegmentFile(policy_);

    struct SegmentFile {
        std::filesystem::path url;
        std::int64_t size;
        double modified;
    };
    std::vector<SegmentFile> found;
    for (const auto& url : ownedFiles()) {
        if (url.extension() == ".tmp") {
            deleteFile(url);
            continue;
        }
        auto status = files::statusIfExists(url);
        if (!status) throw std::system_error(ENOENT, std::generic_category(), "lstat");
        if (!S_ISREG(status->st_mode)) throw DiagnosticError::unavailable;
        // A file larger than the store writes is damaged: it is deleted unread before the
        // budget is applied, so that it never costs the readable segments their place.
        if (static_cast<std::uint64_t>(status->st_size) > largestFile) {
            lastFailure_ = DiagnosticError::corruptLog;
            deleteFile(url);
            continue;
        }
        found.push_back({url, static_cast<std::int64_t>(status->st_size), modificationTime(*status)});
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const SegmentFile& a, const SegmentFile& b) { return a.modified < b.modified; });

    std::int64_t running = 0;
    for (const auto& file : found) running += file.size;
    while (running > policy_.totalByteLimit && !found.empty()) {
        deleteFile(found.front().url);
        running -= found.front().size;
        found.erase(found.begin());
    }

    std::vector<Segment> kept;
    for (const auto& file : found) {
        // Opened without following links and without blocking, and checked again through
        // the descriptor, so a file swapped for a FIFO or link is never read.
        auto descriptor = files::openFile(file.url, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
        struct stat status {};
        if (::fstat(descriptor.get(), &status) != 0) throwErrno("fstat");
        if (!S_ISREG(status.st_mode)) throw DiagnosticError::unavailable;
        if (::fchmod(descriptor.get(), 0600) != 0) throwErrno("fchmod");
        // A file that grew past the bound since its size was taken is damaged too: the read
        // stops there and none of its lines count.
        std::optional<platform::Bytes> bytes;
        if (status.st_size >= 0 && static_cast<std::uint64_t>(status.st_size) <= largestFile) {
            bytes = files::readAtMost(descriptor.get(), largestFile);
        }
        descriptor.close();
        std::string content = bytes ? std::string(bytes->begin(), bytes->end()) : std::string();

        bool damaged = !bytes || (!content.empty() && content.back() != '\n');
        std::vector<DiagnosticEvent> events;
        std::size_t start = 0;
        while (start < content.size()) {
            auto end = content.find('\n', start);
            if (end == std::string::npos) end = content.size();
            if (end > start) {
                try { // a line longer than any event is refused before it is parsed
                    events.push_back(DiagnosticEvent::decode(std::string_view(content).substr(start, end - start)));
                } catch (...) {
                    damaged = true;
                }
            }
            start = end + 1;
        }
        if (damaged) lastFailure_ = DiagnosticError::corruptLog;
        std::erase_if(events, [&](const DiagnosticEvent& event) { return !(event.timestamp > cutoff); });
        if (events.empty()) {
            deleteFile(file.url);
            running -= file.size;
            continue;
        }
        std::string encoded;
        for (const auto& event : events) encoded += event.json() + "\n";
        if (encoded == content) {
            kept.push_back({file.url, std::move(events), std::move(encoded)});
            continue;
        }
        deleteFile(file.url);
        running -= file.size;
        auto size = static_cast<std::int64_t>(encoded.size());
        if (running + size <= policy_.totalByteLimit) {
            write(encoded, file.url);
            running += size;
            kept.push_back({file.url, std::move(events), std::move(encoded)});
        }
    }

    std::stable_sort(kept.begin(), kept.end(), [](const Segment& a, const Segment& b) {
        if (a.events.front().timestamp != b.events.front().timestamp) {
            return a.events.front().timestamp < b.events.front().timestamp;
        }
        return a.url.filename().string() < b.url.filename().string();
    });
    std::int64_t total = 0;
    for (const auto& segment : kept) total += static_cast<std::int64_t>(segment.data.size());
    while (total > policy_.totalByteLimit && !kept.empty()) {
        deleteFile(kept.front().url);
        total -= static_cast<std::int64_t>(kept.front().data.size());
        kept.erase(kept.begin());
    }
    segments_ = std::move(kept);
    pruneFallback();
}

} // namespace tarpelix
