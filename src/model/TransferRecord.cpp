#include "model/TransferRecord.h"

#include "model/ModelJson.h"
#include "platform/foundation/JsonReader.h"
#include "platform/foundation/Text.h"

namespace tarpelix {

namespace text = platform::text;

void TransferRecord::writeJson(platform::JsonWriter& writer) const {
    writer.beginObject();
    writer.key("id").value(id.uuidString());
    writer.key("createdAt").value(createdAt.secondsSinceReferenceDate);
    writer.key("updatedAt").value(updatedAt.secondsSinceReferenceDate);
    writer.key("terminal").value(text::validUTF8(terminal));
    writer.key("transport").value(text::validUTF8(transport));
    writer.key("destinationIdentity").value(text::validUTF8(destinationIdentity));
    writer.key("imageSize").value(imageSize);
    if (localFilename) writer.key("localFilename").value(text::validUTF8(*localFilename));
    if (confirmedRemotePath) writer.key("confirmedRemotePath").value(text::validUTF8(*confirmedRemotePath));
    writer.key("uploadOutcome").value(rawValue(uploadOutcome));
    writer.key("insertionOutcome").value(rawValue(insertionOutcome));
    if (failureCategory) writer.key("failureCategory").value(rawValue(*failureCategory));
    writer.endObject();
}

std::string TransferRecord::json() const {
    platform::JsonWriter writer;
    writeJson(writer);
    return writer.str();
}

TransferRecord TransferRecord::fromJson(const nlohmann::json& object) {
    namespace json = platform::json;
    json::requireObject(object, "record");
    TransferRecord record;
    record.id = json::requiredUuid(object, "id");
    record.createdAt = json::requiredDate(object, "createdAt");
    record.updatedAt = json::requiredDate(object, "updatedAt");
    record.terminal = json::requiredString(object, "terminal");
    record.transport = json::requiredString(object, "transport");
    record.destinationIdentity = json::requiredString(object, "destinationIdentity");
    record.imageSize = json::requiredInt64(object, "imageSize");
    record.localFilename = json::optionalString(object, "localFilename");
    record.confirmedRemotePath = json::optionalString(object, "confirmedRemotePath");
    record.uploadOutcome = model_json::requiredTransferOutcome(object, "uploadOutcome");
    record.insertionOutcome = model_json::requiredTransferOutcome(object, "insertionOutcome");
    if (auto name = json::optionalString(object, "failureCategory")) {
        auto category = transferFailureCategoryFrom(*name);
        if (!category) throw platform::JsonDecodingError("\"failureCategory\": unknown category");
        record.failureCategory = category;
    }
    return record;
}

} // namespace tarpelix
