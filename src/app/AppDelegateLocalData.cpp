#include "app/AppDelegate.h"

#include "diagnostics/DiagnosticReport.h"
#include "diagnostics/DiagnosticStore.h"
#include "paste/PasteCoordinator.h"
#include "platform/dispatch/DispatchQueue.h"
#include "settings/SettingsSnapshot.h"
#include "storage/TransferStorage.h"
#include "windows/CopyLastImageController.h"
#include "windows/CopyLastUploadController.h"
#include "windows/LastPasteWindowController.h"

// The background work behind the Settings window: every piece runs on the settings worker, one
// at a time in the order asked, and its result returns to the main queue before any of the
// delegate's state is touched.
namespace tarpelix {

using namespace platform;

void AppDelegate::takeStorageWarning(const TransferStorage::Status& status) {
    storageWarning_ = status.warning;
    if (!storageWarning_ && status.usage) storageWarning_ = status.usage->lastFailure;
}

void AppDelegate::loadSettings(std::function<void(SettingsSnapshot)> completion) {
    const std::weak_ptr<AppDelegate> weak = weak_from_this();
    settingsWorker()->async([weak, storage = transferStorage(), diagnostics = diagnosticStore(),
                             completion = std::move(completion)]() mutable {
        SettingsSnapshot snapshot{storage->status(), diagnostics->snapshot().health};
        DispatchQueue::main()->async([weak, snapshot = std::move(snapshot), completion = std::move(completion)] {
            auto self = weak.lock();
            if (!self) return;
            self->takeStorageWarning(snapshot.storage);
            self->refreshMenu();
            if (completion) completion(snapshot);
        });
    });
}

void AppDelegate::clearLocalData(bool images, std::function<void(std::exception_ptr)> completion) {
    if (!pasteCoordinator()->beginLocalDataClear()) {
        if (completion) completion(std::make_exception_ptr(StorageError(StorageError::busy)));
        return;
    }
    if (images) {
        clearingImages_ = true;
        copyStatus_.reset();
        copyLastUpload()->invalidate();
        copyLastImage()->invalidate();
        if (lastPasteController_) lastPasteController_->invalidate();
    }
    const std::weak_ptr<AppDelegate> weak = weak_from_this();
    settingsWorker()->async([weak, images, coordinator = pasteCoordinator(), storage = transferStorage(),
                             diagnostics = diagnosticStore(), completion = std::move(completion)]() mutable {
        std::exception_ptr error;
        try {
            if (images) {
                if (storage->clear() == TransferStorage::ClearResult::deferred) throw StorageError(StorageError::busy);
            } else {
                diagnostics->clear();
            }
        } catch (...) {
            error = std::current_exception();
        }
        auto status = storage->status();
        DispatchQueue::main()->async([weak, images, error, coordinator, status = std::move(status),
                                      completion = std::move(completion)] {
            if (auto self = weak.lock()) {
                self->finishLocalDataClear(images, error, status, completion);
            } else {
                coordinator->endLocalDataClear(); // the coordinator's flag is given back all the same
            }
        });
    });
}

void AppDelegate::finishLocalDataClear(bool images, std::exception_ptr error, const TransferStorage::Status& status,
                                       const std::function<void(std::exception_ptr)>& completion) {
    pasteCoordinator()->endLocalDataClear();
    takeStorageWarning(status);
    refreshMenu();
    if (images) {
        clearingImages_ = false;
        if (lastPasteController_) lastPasteController_->refreshIfVisible();
        copyLastUpload()->refresh();
        copyLastImage()->refresh();
    }
    if (completion) completion(error);
}

void AppDelegate::makeDiagnosticReport(std::function<void(std::string)> completion) {
    settingsWorker()->async(
        [storage = transferStorage(), diagnostics = diagnosticStore(), completion = std::move(completion)]() mutable {
            auto text = DiagnosticReport::make(diagnostics->snapshot(), storage->status());
            DispatchQueue::main()->async([text = std::move(text), completion = std::move(completion)] {
                if (completion) completion(text);
            });
        });
}

} // namespace tarpelix
