#pragma once

#include "model/PasteOperation.h"

#include <memory>

namespace tarpelix {

// Polls the paste operation, when there is one: throws its TerminalUnavailable once it is
// cancelled or past its deadline.
inline void checkOperation(const std::shared_ptr<PasteOperation>& operation) {
    if (operation) operation->check();
}

} // namespace tarpelix
