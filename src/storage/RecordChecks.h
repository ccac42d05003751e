#pragma once

#include "model/PasteAttempt.h"
#include "model/TransferRecord.h"

#include "platform/foundation/JsonReader.h"

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

// What the store reads of a stored payload: a row whose payload is not a blob, or is larger
// than its table's limit, or holds more values or levels than these, is damaged and is never
// loaded or parsed. The largest payloads the application can write are about 2.2 MB (a record
// or attempt whose destination is the largest that `ssh -G` may report, 1 MiB of characters
// that JSON escapes) and about 1 MB for the usage ledger (a century of daily use and 10,000
// machines); real ones are under 1 KB and under 50 KB. Real payloads nest two levels deep and
// hold a few dozen values, the ledger one per day and machine.
inline constexpr platform::json::Limits recordPayloadLimit{8 * 1024 * 1024, 4096, 32};
inline constexpr platform::json::Limits attemptPayloadLimit{8 * 1024 * 1024, 4096, 32};
inline constexpr platform::json::Limits ledgerPayloadLimit{8 * 1024 * 1024, 262'144, 32};

} // namespace tarpelix
