// What the tests and the demo do at a pane of the simulated terminal as its user would: the
// Control+V the keyboard makes, and a shell in the pane that reads one line and shows it.
#pragma once

#include "paste/PasteEventTap.h"
#include "platform/desktop/InputEventsControl.h"
#include "platform/desktop/SimulatedTerminal.h"
#include "support/MainLoop.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace tarpelix::testing {

// Control+V as the keyboard makes it (the character it types is ^V).
inline platform::EventDelivery pressControlV() {
    constexpr auto keyV = static_cast<std::uint16_t>(PasteEventTap::triggerKeyCode);
    auto down = platform::InputEventsControl::keyEvent(keyV, true, platform::EventFlag::control);
    down->keyboardSetUnicodeString(u"\x16");
    auto delivery = platform::InputEventsControl::deliver(down);
    platform::InputEventsControl::deliver(platform::InputEventsControl::keyEvent(keyV, false));
    return delivery;
}

// What the shell prints before the line it read; its own command line splits the marker in
// two, so that the echo of what was typed never holds it.
inline const std::string receivedMarker = "GOT[";

// The shell in the pane waits for one line and prints it between "GOT[" and "]".
inline void shellReadsALine(platform::SimulatedTerminal& terminal, const std::string& pane) {
    terminal.type(pane, "IFS= read -r line; echo \"GO\"\"T[$line]\"\n");
}

// Runs the main run loop until the condition holds or the seconds have passed.
using MainLoopRunner = std::function<bool(const std::function<bool()>&, double)>;

// Ends the line the shell waits for and answers what it received: the first "GOT[…]" the pane
// prints after those it had printed before the call, once its "]" has come too. Nothing when
// no new one came within `seconds`; an earlier line of the same pane is never the answer.
inline std::optional<std::string> lineTheShellReceived(platform::SimulatedTerminal& terminal,
                                                       const std::string& pane, double seconds = 30,
                                                       const MainLoopRunner& runUntil = runMainUntil) {
    // Where the marker after the first `skipped` ones starts, if it is there.
    const auto markerAfter = [](const std::string& text, std::size_t skipped) {
        auto at = text.find(receivedMarker);
        for (; at != std::string::npos && skipped > 0; --skipped) {
            at = text.find(receivedMarker, at + receivedMarker.size());
        }
        return at;
    };
    const auto before = terminal.output(pane);
    std::size_t seen = 0;
    while (markerAfter(before, seen) != std::string::npos)
        ++seen;
    platform::InputEventsControl::waitUntilDelivered();
    terminal.type(pane, "\n");
    std::string output;
    std::size_t start = std::string::npos;
    const bool answered = runUntil(
        [&] {
            output = terminal.output(pane);
            start = markerAfter(output, seen);
            return start != std::string::npos && output.find(']', start) != std::string::npos;
        },
        seconds);
    if (!answered) return std::nullopt;
    start += receivedMarker.size();
    return output.substr(start, output.find(']', start) - start);
}

} // namespace tarpelix::testing
