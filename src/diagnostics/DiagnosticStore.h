#pragma once

#include "diagnostics/DiagnosticError.h"
#include "diagnostics/DiagnosticEvent.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchTimer.h"
#include "platform/foundation/Date.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tarpelix {

struct DiagnosticPolicy {
    double maxAge = 604'800;                // seconds (7 days)
    std::int64_t totalByteLimit = 5'000'000; // all segment files together
    std::int64_t segmentByteLimit = 256'000; // a new segment is started past this size

    // Finite, non-negative age and limits of at least one byte.
    bool isUsable() const;
};

struct DiagnosticHealth {
    std::int64_t eventCount = 0;
    std::int64_t byteCount = 0;
    std::optional<DiagnosticError> lastFailure;

    bool operator==(const DiagnosticHealth&) const = default;
};

struct DiagnosticSnapshot {
    std::vector<DiagnosticEvent> events; // oldest first
    DiagnosticHealth health;
};

// The first argument of the file hook ("delete" is a C++ keyword, hence deleteFile).
enum class DiagnosticFileOperation { write, deleteFile };

// The system's own log of paste events: JSON-lines segment files in a private directory,
// bounded in age and size, with an in-memory fallback for events that could not be written.
// append() may be called from any thread and never waits for the disk; everything else runs
// on the serial queue "com.tarpelix.diagnostics", which callers of snapshot(), clear() and
// maintain() wait for (so never call them from that queue or the main thread's critical path).
class DiagnosticStore : public std::enable_shared_from_this<DiagnosticStore> {
public:
    using Clock = std::function<platform::Date()>;
    using FileHook = std::function<void(DiagnosticFileOperation, const std::filesystem::path&)>;

    static constexpr std::size_t pendingLimit = 100;
    static constexpr std::size_t fallbackLimit = 100;

    struct Options {
        std::filesystem::path root = defaultRoot();
        Clock clock = platform::Date::now;
        DiagnosticPolicy policy{};
        bool scheduleMaintenance = true;
        FileHook fileOperation;
        double maintenanceIntervalSeconds = 3600; // hourly; tests shorten it
    };

    // The transfer storage's root with "diagnostics" appended.
    static std::filesystem::path defaultRoot();

    // Loads the directory at once on the calling thread; never fails.
    static std::shared_ptr<DiagnosticStore> create(Options options);
    static std::shared_ptr<DiagnosticStore> create(); // the application's defaults
    ~DiagnosticStore();
    DiagnosticStore(const DiagnosticStore&) = delete;
    DiagnosticStore& operator=(const DiagnosticStore&) = delete;

    void append(const DiagnosticEvent& event);
    DiagnosticSnapshot snapshot();
    void clear();    // throws DiagnosticError
    void maintain(); // throws DiagnosticError

private:
    struct Segment {
        std::filesystem::path url;
        std::vector<DiagnosticEvent> events;
        std::string data;
    };

    explicit DiagnosticStore(Options options);

    void drainIngress();
    void maintenancePass();
    void moveToFallback(const DiagnosticEvent& event);
    void pruneFallback();
    void flushFallback();
    void record(std::exception_ptr error);

    // Segment files.
    void ensureDirectory();
    std::vector<std::filesystem::path> ownedFiles() const;
    void deleteFile(const std::filesystem::path& url);
    void write(const std::string& data, const std::filesystem::path& url);
    void persist(const DiagnosticEvent& event);
    void loadAndPrune();
    std::filesystem::path newSegmentURL() const;

    const std::filesystem::path root_;
    const Clock clock_;
    const DiagnosticPolicy policy_;
    const FileHook fileOperation_;
    const std::shared_ptr<platform::DispatchQueue> worker_;

    std::mutex ingressLock_;
    std::vector<DiagnosticEvent> pending_;
    bool drainScheduled_ = false;

    // Touched only on the worker (and by the first load, before the store is shared).
    std::vector<DiagnosticEvent> fallback_;
    std::vector<Segment> segments_;
    std::optional<DiagnosticError> lastFailure_;
    std::shared_ptr<platform::DispatchTimer> timer_;
};

} // namespace tarpelix
