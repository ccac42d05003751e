#include "platform/foundation/JsonReader.h"

#include <gtest/gtest.h>

#include <string>

using namespace tarpelix::platform;

// Nesting and values are counted as the parser builds them, and bytes before it starts: a text at
// each bound parses, one past it is refused whatever it would have been.
TEST(JsonLimits, NestingValuesAndBytesAreBounded) {
    const json::Limits limit{1024, 40, 8};
    const auto nested = [](std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    const auto values = [](std::size_t count) { // an object holding count - 1 numbers
        std::string text = "{";
        for (std::size_t i = 1; i < count; ++i) text += (i > 1 ? ",\"" : "\"") + std::to_string(i) + "\":0";
        return text + "}";
    };
    const struct {
        const char* name;
        std::string payload;
        bool parses;
    } cases[] = {
        {"8 levels", nested(8), true},
        {"9 levels", nested(9), false},
        {"40 values", values(40), true},
        {"41 values", values(41), false},
        {"a string at the byte limit", "\"" + std::string(1022, 'x') + "\"", true},
        {"one byte more", "\"" + std::string(1023, 'x') + "\"", false},
        {"not JSON", "{\"a\":", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        bool parsed = true;
        try {
            json::parse(c.payload, limit);
        } catch (const JsonDecodingError&) {
            parsed = false;
        }
        EXPECT_EQ(parsed, c.parses);
    }
}
