#include "storage/StorageError.h"

namespace tarpelix {

const char* StorageError::what() const noexcept {
    switch (code) {
    case Code::invalidRecord: return "invalidRecord";
    case Code::unavailable: return "unavailable";
    case Code::imageWriteFailed: return "imageWriteFailed";
    case Code::databaseFailure: return "databaseFailure";
    case Code::unsupportedSchema: return "unsupportedSchema";
    case Code::busy: return "busy";
    }
    return "unavailable";
}

StorageError storageErrorFrom(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const StorageError& storageError) {
        return storageError;
    } catch (...) {
        return StorageError::unavailable;
    }
}

} // namespace tarpelix
