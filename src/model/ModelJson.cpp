#include "model/ModelJson.h"

#include "platform/foundation/JsonReader.h"

namespace tarpelix::model_json {

TransferOutcome requiredTransferOutcome(const nlohmann::json& object, const char* key) {
    auto outcome = transferOutcomeFrom(platform::json::requiredString(object, key));
    if (!outcome) throw platform::JsonDecodingError("\"" + std::string(key) + "\": unknown outcome");
    return *outcome;
}

} // namespace tarpelix::model_json
