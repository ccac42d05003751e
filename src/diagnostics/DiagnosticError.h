#pragma once

#include <exception>
#include <optional>

namespace tarpelix {

// The diagnostics subsystem's error: one payload-free case; what() is the case name.
class DiagnosticError : public std::exception {
public:
    enum class Code { unavailable, invalidEvent, corruptLog, writeFailed, deleteFailed };

    static const DiagnosticError unavailable;
    static const DiagnosticError invalidEvent;
    static const DiagnosticError corruptLog;
    static const DiagnosticError writeFailed;
    static const DiagnosticError deleteFailed;

    explicit DiagnosticError(Code code) : code(code) {}
    const char* what() const noexcept override;

    bool operator==(const DiagnosticError& other) const { return code == other.code; }

    Code code;
};

inline const DiagnosticError DiagnosticError::unavailable{Code::unavailable};
inline const DiagnosticError DiagnosticError::invalidEvent{Code::invalidEvent};
inline const DiagnosticError DiagnosticError::corruptLog{Code::corruptLog};
inline const DiagnosticError DiagnosticError::writeFailed{Code::writeFailed};
inline const DiagnosticError DiagnosticError::deleteFailed{Code::deleteFailed};

// What an exception of any kind is recorded as: itself when it is a DiagnosticError,
// otherwise `unavailable`.
DiagnosticError diagnosticErrorFrom(std::exception_ptr error);

} // namespace tarpelix
