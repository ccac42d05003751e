#pragma once

#include <exception>
#include <optional>
#include <string>

namespace tarpelix {

// The transfer storage's error: one payload-free case. Thrown by the store, carried as the
// service's warning. what() is the case name.
class StorageError : public std::exception {
public:
    enum class Code { invalidRecord, unavailable, imageWriteFailed, databaseFailure, unsupportedSchema, busy };

    static const StorageError invalidRecord;
    static const StorageError unavailable;
    static const StorageError imageWriteFailed;
    static const StorageError databaseFailure;
    static const StorageError unsupportedSchema;
    static const StorageError busy;

    explicit StorageError(Code code) : code(code) {}
    const char* what() const noexcept override;

    bool operator==(const StorageError& other) const { return code == other.code; }

    Code code;
};

inline const StorageError StorageError::invalidRecord{Code::invalidRecord};
inline const StorageError StorageError::unavailable{Code::unavailable};
inline const StorageError StorageError::imageWriteFailed{Code::imageWriteFailed};
inline const StorageError StorageError::databaseFailure{Code::databaseFailure};
inline const StorageError StorageError::unsupportedSchema{Code::unsupportedSchema};
inline const StorageError StorageError::busy{Code::busy};

// The StorageError that an exception of any kind becomes at a storage boundary: itself when
// it is one, otherwise `unavailable`.
StorageError storageErrorFrom(std::exception_ptr error);

} // namespace tarpelix
