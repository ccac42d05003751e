// The latest attempt and the snapshot loads of the storage service.
#include "storage/TransferStorage.h"

#include "storage/RecordChecks.h"

namespace tarpelix {


std::optional<TransferRecord> TransferStorage::memoryImageRecord() const {
    if (!currentImage_ || !currentImage_->memoryOnly) return std::nullopt;
    auto it = records_.find(currentImage_->id);
    if (it == records_.end()) return std::nullopt;
    return it->second;
}

void TransferStorage::saveLatestAttempt(const PasteAttempt& attempt, WarningCompletion completion) {
    queue_->async([self = shared_from_this(), attempt, completion = std::move(completion)]() mutable {
        self->trimPersistedCache();
        if (!self->latestAttempt_ && self->store_) {
            try {
                self->latestAttempt_ = self->store_->latestAttempt();
            } catch (...) {
                self->rememberFailure(std::current_exception());
            }
        }
        // A wall clock that stepped back must not make this paste's newer state look older.
        auto incoming = attemptKeepingTimeForward(attempt, self->latestAttempt_);
        if (!self->latestAttempt_ || self->latestAttempt_->acceptsUpdate(incoming)) {
            self->latestAttempt_ = incoming;
            self->attemptDirty_ = true;
            if (self->store_) {
                try {
                    self->store_->saveLatestAttempt(incoming);
                    self->attemptDirty_ = false;
                } catch (...) {
                    self->rememberFailure(std::current_exception());
                }
            }
        }
        deliver(std::move(completion), self->warning_);
    });
}

void TransferStorage::loadLatestAttempt(std::function<void(LatestAttemptResult)> completion) {
    queue_->async([self = shared_from_this(), completion = std::move(completion)]() mutable {
        self->trimPersistedCache();
        std::optional<TransferRecord> linked;
        bool merged = true;
        if (self->store_) {
            try {
                auto stored = self->store_->latestAttempt();
                if (stored) {
                    auto& held = self->latestAttempt_;
                    bool keepHeld = held && self->attemptDirty_ && held->id == stored->id;
                    if (!held || (held->acceptsUpdate(*stored) && !keepHeld)) {
                        held = stored;
                        self->attemptDirty_ = false;
                    }
                }
            } catch (...) {
                self->rememberFailure(std::current_exception());
                merged = false;
            }
        }
        if (merged && self->latestAttempt_) {
            const auto& attempt = *self->latestAttempt_;
            bool found = true;
            if (auto it = self->records_.find(attempt.id); it != self->records_.end()) {
                linked = it->second;
            } else if (self->store_) {
                try {
                    linked = self->store_->record(attempt.id);
                } catch (...) {
                    self->rememberFailure(std::current_exception());
                    found = false;
                }
            }
            if (found) self->latestAttempt_ = attempt.reconciled(linked, false, attempt.updatedAt);
        }
        self->trimPersistedCache();

        LatestAttemptResult result;
        result.attempt = self->latestAttempt_;
        result.memoryOnly = !self->store_ || self->attemptDirty_;
        result.warning = self->warning_;
        if (!self->clearPending_ && linked && result.attempt && linked->id == result.attempt->id) {
            if (linked->hasConfirmedUpload()) result.upload = ConfirmedUploadSnapshot{*linked};
            auto memoryImage = self->memoryImageRecord();
            if (linked->localFilename || (memoryImage && memoryImage->id == linked->id)) {
                result.image = LatestImageSnapshot{*linked};
            }
        }
        deliver(std::move(completion), std::move(result));
    });
}

std::optional<TransferStorage::LatestImageSnapshot> TransferStorage::latestImageSnapshot() {
    trimPersistedCache();
    if (clearPending_) return std::nullopt;
    std::optional<TransferRecord> newest = memoryImageRecord();
    if (store_) {
        try {
            if (auto retained = store_->latestRetainedImage()) {
                if (!newest || isNewer(*retained, *newest)) newest = retained;
            }
        } catch (...) {
            rememberFailure(std::current_exception());
        }
    }
    if (!newest) return std::nullopt;
    return LatestImageSnapshot{*newest};
}

std::optional<TransferStorage::ConfirmedUploadSnapshot> TransferStorage::latestConfirmedUploadSnapshot() {
    trimPersistedCache();
    auto candidates = records_;
    if (store_) {
        try {
            if (auto stored = store_->latestConfirmedUpload()) candidates.try_emplace(stored->id, *stored);
        } catch (...) {
            rememberFailure(std::current_exception());
        }
    }
    const TransferRecord* newest = nullptr;
    for (const auto& [id, record] : candidates) {
        if (record.hasConfirmedUpload() && (!newest || isNewer(record, *newest))) newest = &record;
    }
    if (!newest) return std::nullopt;
    return ConfirmedUploadSnapshot{*newest};
}

void TransferStorage::loadLatestImage(std::function<void(std::optional<LatestImageSnapshot>)> completion) {
    queue_->async([self = shared_from_this(), completion = std::move(completion)]() mutable {
        deliver(std::move(completion), self->latestImageSnapshot());
    });
}

void TransferStorage::loadLatestConfirmedUpload(std::function<void(std::optional<ConfirmedUploadSnapshot>)> completion) {
    queue_->async([self = shared_from_this(), completion = std::move(completion)]() mutable {
        deliver(std::move(completion), self->latestConfirmedUploadSnapshot());
    });
}

void TransferStorage::readImage(const platform::Uuid& id,
                                std::function<void(std::optional<platform::Bytes>)> completion) {
    queue_->async([self = shared_from_this(), id, completion = std::move(completion)]() mutable {
        self->trimPersistedCache();
        std::optional<platform::Bytes> bytes;
        auto memoryImage = self->memoryImageRecord();
        if (self->clearPending_) {
            bytes.reset();
        } else if (memoryImage && memoryImage->id == id) {
            if (self->currentImage_) bytes = self->currentImage_->data;
        } else if (self->store_) {
            try {
                bytes = self->store_->readRetainedImage(id);
            } catch (...) {
                self->rememberFailure(std::current_exception());
            }
        }
        deliver(std::move(completion), std::move(bytes));
    });
}

std::optional<platform::Bytes> TransferStorage::currentImageData() {
    return queue_->sync([&]() -> std::optional<platform::Bytes> {
        trimPersistedCache();
        if (!currentImage_) return std::nullopt;
        return currentImage_->data;
    });
}

std::optional<TransferRecord> TransferStorage::latestConfirmedUpload() {
    return queue_->sync([&]() -> std::optional<TransferRecord> {
        auto snapshot = latestConfirmedUploadSnapshot();
        if (!snapshot) return std::nullopt;
        return snapshot->record;
    });
}

std::optional<TransferRecord> TransferStorage::latestRetainedImage() {
    return queue_->sync([&]() -> std::optional<TransferRecord> {
        if (!store_) return std::nullopt;
        try {
            return store_->latestRetainedImage();
        } catch (...) {
            rememberFailure(std::current_exception());
            return std::nullopt;
        }
    });
}

} // namespace tarpelix
