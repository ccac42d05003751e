#include "terminal/TerminalAppAdapter.h"

#include "terminal/SyntheticEventMarker.h"

#include <unicode/unistr.h>
#include <unicode/utf16.h>

namespace tarpelix {

using namespace platform;

namespace {

// The text's UTF-16 units in chunks of at most `limit` units that never split a scalar.
std::vector<std::u16string> chunks(const std::string& text, std::size_t limit) {
    auto units = icu::UnicodeString::fromUTF8(text);
    const char16_t* buffer = units.getBuffer();
    const int32_t length = units.length();
    std::vector<std::u16string> result;
    std::u16string current;
    for (int32_t i = 0; i < length;) {
        int32_t start = i;
        UChar32 scalar = 0;
        U16_NEXT(buffer, i, length, scalar);
        (void)scalar;
        auto size = static_cast<std::size_t>(i - start);
        if (current.size() + size > limit) result.push_back(std::exchange(current, {}));
        current.append(buffer + start, size);
    }
    result.push_back(std::move(current));
    return result;
}

} // namespace

std::vector<TerminalAppAdapter::KeyEventPair> TerminalAppAdapter::inputEvents(const std::string& text) {
    requireInsertableText(text);
    auto source = EventSource::create(EventSourceStateID::privateState);
    if (!source) throw TerminalUnavailable(controlCharactersReason);
    std::vector<KeyEventPair> pairs;
    for (const auto& chunk : chunks(text, chunkLimit)) {
        auto down = Event::createKeyboardEvent(source, 0, true);
        auto up = Event::createKeyboardEvent(source, 0, false);
        if (!down || !up) throw TerminalUnavailable("Could not create Terminal input events");
        for (const auto& event : {down, up}) {
            event->setFlags(0);
            event->setIntegerValueField(EventField::eventSourceUserData, syntheticEventMarker);
            event->keyboardSetUnicodeString(chunk);
        }
        pairs.emplace_back(down, up);
    }
    return pairs;
}

void TerminalAppAdapter::insert(const std::string& text, const TerminalTarget& target,
                                const std::function<void()>& beforeInsertion) {
    requireInsertableText(text);
    auto pairs = inputEvents(text);
    validateTarget(target);
    for (const auto& [down, up] : pairs) {
        auto focus = requireFocus(target);
        if (beforeInsertion) beforeInsertion();
        Event::postToPid(focus.pid, down);
        Event::postToPid(focus.pid, up);
    }
}

} // namespace tarpelix
