#pragma once

#include "platform/desktop/AppleEvents.h"
#include "terminal/TerminalAdapter.h"
#include "model/TerminalUnavailable.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarpelix {

// What the three terminal adapters do alike: the focused-pane test, Accessibility reads,
// script calls with their error mapping, target capture and validation, and the checks
// before every insertion. Each adapter gives its constants and its insertion.
class TerminalAdapterBase : public TerminalAdapter {
public:
    struct Constants {
        std::string bundleID;
        std::string word;             // the terminal's word in messages
        std::string scriptResource;   // name of the ".applescript" resource
        std::string contentAttribute; // attribute of the focused text area ...
        std::string contentValue;     // ... and its required value
    };

    TerminalTarget captureTarget() override;
    void validateTarget(const TerminalTarget& target) override;
    void insert(const std::string& text, const TerminalTarget& target) override {
        insert(text, target, std::function<void()>());
    }
    using TerminalAdapter::insert;

    static inline const std::string controlCharactersReason = "Insertion requires text without control characters";

protected:
    explicit TerminalAdapterBase(Constants constants) : constants_(std::move(constants)) {}

    struct Focus {
        std::int32_t pid = 0;
        platform::AXUIElementRef element;
    };
    // The frontmost terminal's process and focused text area; throws TerminalUnavailable.
    Focus focusedTerminal() const;
    std::optional<platform::AXValue> attribute(const platform::AXUIElementRef& element, const std::string& name) const;
    // Runs a handler of the adapter's script; the reply descriptor.
    platform::AppleEventDescriptor call(const std::string& handler, const std::vector<std::string>& arguments);
    TerminalUnavailable scriptError(const std::optional<platform::ScriptErrorDictionary>& error) const;

    // Empty text or a control or format character: refused before anything else happens.
    static void requireInsertableText(const std::string& text);
    // The focus must still be the target's text area in the target's process; returns it.
    Focus requireFocus(const TerminalTarget& target) const;
    // Insertion through the script's "inserttext" handler.
    void insertWithHandler(const std::string& text, const TerminalTarget& target,
                           const std::function<void()>& beforeInsertion);

    // "<word> <rest>" and the like: the message with this terminal's word.
    std::string worded(const std::string& before, const std::string& after) const {
        return before + constants_.word + after;
    }

    const Constants constants_;
    std::shared_ptr<platform::AppleScript> script_;
    std::optional<std::int32_t> scriptApplicationPID_;
};

} // namespace tarpelix
