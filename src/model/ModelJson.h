#pragma once

#include "model/TransferOutcome.h"

#include <nlohmann/json_fwd.hpp>

// Reading the shared enumerations from JSON objects; an unknown name is a decoding error.
namespace tarpelix::model_json {

TransferOutcome requiredTransferOutcome(const nlohmann::json& object, const char* key);

} // namespace tarpelix::model_json
