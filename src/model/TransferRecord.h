#pragma once

#include "model/TransferOutcome.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/JsonWriter.h"
#include "platform/foundation/Uuid.h"

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <optional>
#include <string>

namespace tarpelix {

// One stored transfer: the upload and insertion of one pasted image. It lives here beside
// the attempt, which reconciles itself with it, so that storage can depend on both.
struct TransferRecord {
    platform::Uuid id = platform::Uuid::random();
    platform::Date createdAt = platform::Date::now();
    platform::Date updatedAt = createdAt;
    std::string terminal;
    std::string transport;
    std::string destinationIdentity;
    std::int64_t imageSize = 0;
    std::optional<std::string> localFilename;
    std::optional<std::string> confirmedRemotePath;
    TransferOutcome uploadOutcome = TransferOutcome::pending;
    TransferOutcome insertionOutcome = TransferOutcome::pending;
    std::optional<TransferFailureCategory> failureCategory;

    bool operator==(const TransferRecord&) const = default;

    // "<upper-case id>.png": the only name a retained image of this record may have.
    std::string expectedFilename() const { return id.uuidString() + ".png"; }
    // The upload is confirmed: succeeded, with a non-empty confirmed remote path.
    bool hasConfirmedUpload() const {
        return uploadOutcome == TransferOutcome::succeeded && confirmedRemotePath && !confirmedRemotePath->empty();
    }

    // JSON object with the keys in field order; absent optionals left out.
    void writeJson(platform::JsonWriter& writer) const;
    std::string json() const;
    // Strict reading (unknown keys ignored); throws platform::JsonDecodingError.
    static TransferRecord fromJson(const nlohmann::json& object);
};

} // namespace tarpelix
