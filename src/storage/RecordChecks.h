#pragma once

#include "model/PasteAttempt.h"
#include "model/TransferRecord.h"

namespace tarpelix {

// The checks the store applies to every record and latest attempt it writes or reads;
// each throws StorageError::invalidRecord.
void checkRecord(const TransferRecord& record);
// The record's confirmed remote path is one its own upload could have confirmed (an empty path
// confirms nothing and passes).
bool hasAcceptableRemotePath(const TransferRecord& record);
void checkLatestAttempt(const PasteAttempt& attempt);

// The incoming state of an attempt with its time kept from running backwards: a wall clock
// that stepped back must not make the final state of the current paste look older than the
// state already held (or than its own creation), which would get it refused.
PasteAttempt attemptKeepingTimeForward(PasteAttempt incoming, const std::optional<PasteAttempt>& held);

} // namespace tarpelix
