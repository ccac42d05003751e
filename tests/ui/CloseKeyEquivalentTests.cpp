#include "ui/CloseKeyEquivalent.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tarpelix;
using namespace tarpelix::platform;

namespace {

struct KeyCase {
    const char* name;
    EventFlags flags;
    std::string key; // characters ignoring modifiers
    bool closes;
};

TEST(CloseKeyEquivalent, OnlyCommandWAloneCloses) {
    constexpr EventFlags leftCommandKeyBit = 0x8; // a device-dependent bit, not a modifier
    const std::vector<KeyCase> cases{
        {"Command-W", EventFlag::command, "w", true},
        {"upper-case character", EventFlag::command, "W", true},
        {"device-dependent bits", EventFlag::command | leftCommandKeyBit, "w", true},
        {"Command-Shift-W", EventFlag::command | EventFlag::shift, "W", false},
        {"Command-Shift-W, lower-case", EventFlag::command | EventFlag::shift, "w", false},
        {"Command-Option-W", EventFlag::command | EventFlag::alternate, "w", false},
        {"Command-W with Caps Lock", EventFlag::command | EventFlag::alphaShift, "w", false},
        {"Command-Control-W", EventFlag::command | EventFlag::control, "w", false},
        {"Fn-Command-W", EventFlag::command | EventFlag::secondaryFn, "w", false},
        {"numeric pad", EventFlag::command | EventFlag::numericPad, "w", false},
        {"W without Command", 0, "w", false},
        {"Option-W", EventFlag::alternate, "w", false},
        {"Command-Q", EventFlag::command, "q", false},
        {"two characters", EventFlag::command, "ww", false},
        {"no character", EventFlag::command, "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        KeyEvent event;
        event.modifierFlags = c.flags;
        event.characters = c.key;
        event.charactersIgnoringModifiers = c.key;
        EXPECT_EQ(isCloseWindowKeyEquivalent(event), c.closes);
    }
}

} // namespace
