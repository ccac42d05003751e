#include "diagnostics/DiagnosticStore.h"

#include "storage/TransferStore.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace tarpelix {

bool DiagnosticPolicy::isUsable() const {
    return std::isfinite(maxAge) && maxAge >= 0 && totalByteLimit >= 1 && segmentByteLimit >= 1;
}

std::filesystem::path DiagnosticStore::defaultRoot() { return TransferStore::defaultRoot() / "diagnostics"; }

std::shared_ptr<DiagnosticStore> DiagnosticStore::create() { return create(Options{}); }

std::shared_ptr<DiagnosticStore> DiagnosticStore::create(Options options) {
    bool schedule = options.scheduleMaintenance;
    double interval = options.maintenanceIntervalSeconds;
    std::shared_ptr<DiagnosticStore> store(new DiagnosticStore(std::move(options)));
    if (schedule) {
        std::weak_ptr<DiagnosticStore> weak = store;
        store->timer_ = platform::DispatchTimer::create(
            store->worker_, interval,
            [weak] {
                if (auto self = weak.lock()) self->maintenancePass();
            },
            interval);
    }
    return store;
}

DiagnosticStore::DiagnosticStore(Options options)
    : root_(std::move(options.root)),
      clock_(std::move(options.clock)),
      policy_(options.policy),
      fileOperation_(std::move(options.fileOperation)),
      worker_(platform::DispatchQueue::create("com.tarpelix.diagnostics")) {
    // The first load runs here, on the creating thread, before the store is shared.
    try {
        loadAndPrune();
    } catch (...) {
        record(std::current_exception());
    }
}

DiagnosticStore::~DiagnosticStore() {
    // May run on the worker (a queued drain held the last reference): nothing here waits for it.
    if (timer_) timer_->cancel();
}

void DiagnosticStore::record(std::exception_ptr error) { lastFailure_ = diagnosticErrorFrom(error); }

// MARK: Ingress

void DiagnosticStore::append(const DiagnosticEvent& event) {
    bool wasScheduled;
    {
        std::lock_guard lock(ingressLock_);
        if (pending_.size() >= pendingLimit) pending_.erase(pending_.begin(), pending_.end() - (pendingLimit - 1));
        pending_.push_back(event);
        wasScheduled = drainScheduled_;
        drainScheduled_ = true;
    }
    if (wasScheduled) return;
    std::weak_ptr<DiagnosticStore> weak = weak_from_this();
    worker_->async([weak] {
        if (auto self = weak.lock()) self->drainIngress();
    });
}

void DiagnosticStore::drainIngress() {
    std::vector<DiagnosticEvent> taken;
    {
        std::lock_guard lock(ingressLock_);
        taken.swap(pending_);
        drainScheduled_ = false;
    }
    if (taken.empty()) return;

    std::vector<DiagnosticEvent> kept;
    bool dropped = false;
    for (auto& event : taken) {
        if (event.isWithinBounds()) {
            kept.push_back(std::move(event));
        } else {
            dropped = true;
        }
    }
    try {
        loadAndPrune();
        flushFallback();
    } catch (...) {
        for (const auto& event : kept) moveToFallback(event);
        record(std::current_exception());
        return;
    }
    for (std::size_t i = 0; i < kept.size(); ++i) {
        try {
            persist(kept[i]);
        } catch (...) {
            for (std::size_t j = i; j < kept.size(); ++j) moveToFallback(kept[j]);
            record(std::current_exception());
            return;
        }
    }
    if (dropped) lastFailure_ = DiagnosticError::invalidEvent;
}

// MARK: Fallback

void DiagnosticStore::moveToFallback(const DiagnosticEvent& event) {
    if (fallback_.size() >= fallbackLimit) fallback_.erase(fallback_.begin(), fallback_.end() - (fallbackLimit - 1));
    fallback_.push_back(event);
    pruneFallback();
}

void DiagnosticStore::pruneFallback() {
    auto cutoff = clock_().addingSeconds(-policy_.maxAge);
    std::erase_if(fallback_, [&](const DiagnosticEvent& event) { return event.timestamp <= cutoff; });
}

void DiagnosticStore::flushFallback() {
    pruneFallback();
    while (!fallback_.empty()) {
        persist(fallback_.front());
        fallback_.erase(fallback_.begin());
    }
}

// MARK: Worker operations

void DiagnosticStore::maintenancePass() {
    try {
        loadAndPrune();
        flushFallback();
    } catch (...) {
        record(std::current_exception());
    }
}

void DiagnosticStore::maintain() {
    worker_->sync([&] {
        drainIngress();
        try {
            loadAndPrune();
            flushFallback();
        } catch (...) {
            record(std::current_exception());
            throw *lastFailure_;
        }
    });
}

DiagnosticSnapshot DiagnosticStore::snapshot() {
    return worker_->sync([&] {
        drainIngress();
        pruneFallback();
        std::vector<const DiagnosticEvent*> collected;
        for (const auto& segment : segments_) {
            for (const auto& event : segment.events) collected.push_back(&event);
        }
        for (const auto& event : fallback_) collected.push_back(&event);

        auto cutoff = clock_().addingSeconds(-policy_.maxAge);
        DiagnosticSnapshot snapshot;
        std::set<std::string> seen;
        for (const auto* event : collected) {
            if (!(event->timestamp > cutoff)) continue;
            std::string encoded;
            try {
                encoded = event->json();
            } catch (const DiagnosticEvent::EncodingError&) {
                continue;
            }
            if (!seen.insert(encoded).second) continue;
            snapshot.events.push_back(*event);
        }
        std::stable_sort(snapshot.events.begin(), snapshot.events.end(),
                         [](const auto& a, const auto& b) { return a.timestamp < b.timestamp; });
        snapshot.health.eventCount = static_cast<std::int64_t>(snapshot.events.size());
        for (const auto& segment : segments_) snapshot.health.byteCount += static_cast<std::int64_t>(segment.data.size());
        snapshot.health.lastFailure = lastFailure_;
        return snapshot;
    });
}

void DiagnosticStore::clear() {
    worker_->sync([&] {
        {
            std::lock_guard lock(ingressLock_);
            pending_.clear();
        }
        fallback_.clear();
        try {
            ensureDirectory();
            for (const auto& url : ownedFiles()) deleteFile(url);
        } catch (...) {
            record(std::current_exception());
            throw *lastFailure_;
        }
        segments_.clear();
        lastFailure_.reset();
    });
}

} // namespace tarpelix
