#include "diagnostics/DiagnosticError.h"

namespace tarpelix {

const char* DiagnosticError::what() const noexcept {
    switch (code) {
    case Code::unavailable: return "unavailable";
    case Code::invalidEvent: return "invalidEvent";
    case Code::corruptLog: return "corruptLog";
    case Code::writeFailed: return "writeFailed";
    case Code::deleteFailed: return "deleteFailed";
    }
    return "unavailable";
}

DiagnosticError diagnosticErrorFrom(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const DiagnosticError& diagnosticError) {
        return diagnosticError;
    } catch (...) {
        return DiagnosticError::unavailable;
    }
}

} // namespace tarpelix
