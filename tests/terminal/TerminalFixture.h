#pragma once

#include "platform/desktop/AppleEventsControl.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/desktop/InputEventsControl.h"
#include "platform/desktop/SimulatedTerminal.h"
#include "support/Failures.h"
#include "terminal/GhosttyAdapter.h"
#include "terminal/TerminalAppAdapter.h"
#include "model/TerminalUnavailable.h"
#include "terminal/iTerm2Adapter.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

namespace tarpelix::testing {

using platform::SimulatedTerminal;

// A pane program that reads keystrokes one by one and prints them back (no echo of its
// own), so what it prints is what it received.
inline const SimulatedTerminal::Program receivingProgram = {"/bin/sh", "-c",
                                                            "stty -icanon -echo; echo READY; exec cat"};

struct TerminalKind {
    const char* name;
    SimulatedTerminal::Kind kind;
    std::string word;
    std::function<std::unique_ptr<TerminalAdapterBase>()> makeAdapter;
};

inline const TerminalKind ghosttyKind{"Ghostty", SimulatedTerminal::Kind::ghostty, "Ghostty",
                                      [] { return std::make_unique<GhosttyAdapter>(); }};
inline const TerminalKind iTerm2Kind{"iTerm2", SimulatedTerminal::Kind::iTerm2, "iTerm2",
                                     [] { return std::make_unique<iTerm2Adapter>(); }};
inline const TerminalKind terminalAppKind{"Terminal", SimulatedTerminal::Kind::terminalApp, "Terminal",
                                          [] { return std::make_unique<TerminalAppAdapter>(); }};

inline std::string kindName(const ::testing::TestParamInfo<TerminalKind>& info) { return info.param.name; }

// A trusted desktop with one terminal of the kind, frontmost, with one window whose pane
// runs the receiving program, and Automation of it granted.
class TerminalTest : public ::testing::TestWithParam<TerminalKind> {
protected:
    void SetUp() override {
        platform::DesktopControl::reset();
        platform::InputEventsControl::setAccessibilityTrusted(true);
        terminal = SimulatedTerminal::launch(GetParam().kind);
        platform::AppleEventsControl::setAutomationPermission(terminal->bundleIdentifier(),
                                                              platform::AutomationAnswer::granted);
        pane = terminal->openWindow(receivingProgram);
        ASSERT_TRUE(terminal->waitForOutput(pane, "READY"));
        adapter = GetParam().makeAdapter();
    }
    void TearDown() override {
        terminal.reset();
        platform::DesktopControl::reset();
    }

    std::string worded(const std::string& before, const std::string& after) const {
        return before + GetParam().word + after;
    }

    std::shared_ptr<SimulatedTerminal> terminal;
    std::string pane;
    std::unique_ptr<TerminalAdapterBase> adapter;
};

} // namespace tarpelix::testing
