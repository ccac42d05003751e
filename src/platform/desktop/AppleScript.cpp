#include "platform/desktop/AppleEvents.h"

#include "platform/desktop/Desktop.h"
#include "platform/foundation/Text.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <regex>
#include <sstream>

namespace tarpelix::platform {

namespace detail {
Desktop& appleEventsDesktop();
OSStatus automationStatusLocked(Desktop& d, const std::string& bundleIdentifier);
} // namespace detail

namespace {

constexpr int syntaxError = -2741;
constexpr int eventNotHandled = -1708;
constexpr int wrongParameterCount = -1721;

std::string lowercasedASCII(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

ScriptErrorDictionary errorDictionary(int number, std::string message) {
    return {{AppleScriptErrorKey::number, std::int64_t{number}}, {AppleScriptErrorKey::message, std::move(message)}};
}

// The source without comments (-- and # to the end of the line, nested (* *) blocks), with
// continued lines (¬) joined; string literals are kept as they are.
std::vector<std::string> logicalLines(const std::string& source, std::string& problem) {
    std::vector<std::string> lines;
    std::string line;
    int blockDepth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < source.size(); ++i) {
        char c = source[i];
        if (blockDepth > 0) {
            if (source.compare(i, 2, "(*") == 0) {
                ++blockDepth;
                ++i;
            } else if (source.compare(i, 2, "*)") == 0) {
                --blockDepth;
                ++i;
            } else if (c == '\n') {
                lines.push_back(std::exchange(line, {}));
            }
            continue;
        }
        if (inString) {
            line += c;
            if (c == '\\' && i + 1 < source.size()) {
                line += source[++i];
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        if (c == '"') {
            inString = true;
            line += c;
        } else if (source.compare(i, 2, "(*") == 0) {
            ++blockDepth;
            ++i;
        } else if (source.compare(i, 2, "--") == 0 || c == '#') {
            while (i + 1 < source.size() && source[i + 1] != '\n') ++i;
        } else if (source.compare(i, 2, "\xC2\xAC") == 0) { // ¬: the line continues
            ++i;
            while (i + 1 < source.size() && source[i + 1] != '\n') ++i;
            ++i;
            line += ' ';
        } else if (c == '\n' || c == '\r') {
            lines.push_back(std::exchange(line, {}));
        } else {
            line += c;
        }
    }
    if (inString) problem = "Expected \u201c\"\u201d but found end of script.";
    if (blockDepth > 0) problem = "Expected \u201c*)\u201d but found end of script.";
    lines.push_back(line);
    for (auto& each : lines) {
        auto begin = each.find_first_not_of(" \t");
        auto end = each.find_last_not_of(" \t");
        each = begin == std::string::npos ? std::string() : each.substr(begin, end - begin + 1);
    }
    return lines;
}

struct Parsed {
    std::string target;
    std::map<std::string, std::size_t> handlers;
};

// Reads the handlers and the told application, checking that every block closes.
std::optional<Parsed> parse(const std::string& source, std::string& problem) {
    if (!text::isValidUTF8(source)) {
        problem = "The script is not valid UTF-8 text.";
        return std::nullopt;
    }
    auto lines = logicalLines(source, problem);
    if (!problem.empty()) return std::nullopt;

    static const std::regex handler(R"(^(?:on|to)\s+([A-Za-z_][A-Za-z0-9_]*)\s*\(([^)]*)\)$)", std::regex::icase);
    static const std::regex tellTarget(R"re(tell\s+application\s+id\s+"([^"]+)")re", std::regex::icase);
    static const std::regex oneLineTell(R"(^tell\s.*\sto\s)", std::regex::icase);
    static const std::regex blockIf(R"(^if\s.*\sthen$)", std::regex::icase);
    static const std::regex opener(
        R"(^(repeat|try|considering|ignoring|using terms from|with timeout|with transaction)\b)", std::regex::icase);
    static const std::regex closer(R"(^end(?:\s+(.+))?$)", std::regex::icase);

    Parsed parsed;
    std::vector<std::string> open; // the block keyword each open block expects after "end"
    for (const auto& line : lines) {
        if (line.empty()) continue;
        std::smatch match;
        if (parsed.target.empty() && std::regex_search(line, match, tellTarget)) parsed.target = match[1];
        const std::string lower = lowercasedASCII(line);
        if (std::regex_match(line, match, handler) && lowercasedASCII(match[1]) != "error") {
            if (!open.empty()) {
                problem = "Expected \u201cend\u201d but found \u201con\u201d.";
                return std::nullopt;
            }
            std::string name = lowercasedASCII(match[1]);
            std::string parameters = match[2];
            std::size_t count = 0;
            if (parameters.find_first_not_of(" \t") != std::string::npos) {
                count = static_cast<std::size_t>(std::count(parameters.begin(), parameters.end(), ',')) + 1;
            }
            if (!parsed.handlers.emplace(name, count).second) {
                problem = "The " + name + " handler is specified more than once.";
                return std::nullopt;
            }
            open.push_back(name);
        } else if (std::regex_match(line, match, closer)) {
            if (open.empty()) {
                problem = "Expected end of line but found \u201cend\u201d.";
                return std::nullopt;
            }
            std::string closes = lowercasedASCII(match[1]);
            if (!closes.empty() && open.back().rfind(closes, 0) != 0) {
                problem = "Expected \u201cend " + open.back() + "\u201d but found \u201cend " + closes + "\u201d.";
                return std::nullopt;
            }
            open.pop_back();
        } else if (lower.rfind("tell ", 0) == 0 && !std::regex_search(line, oneLineTell)) {
            open.push_back("tell");
        } else if (std::regex_match(line, blockIf)) {
            open.push_back("if");
        } else if (std::regex_search(line, match, opener)) {
            std::string keyword = lowercasedASCII(match[1]);
            if (keyword == "with timeout") keyword = "timeout";
            if (keyword == "with transaction") keyword = "transaction";
            if (keyword == "using terms from") keyword = "using terms from";
            open.push_back(keyword);
        }
    }
    if (!open.empty()) {
        problem = "Expected \u201cend\u201d but found end of script.";
        return std::nullopt;
    }
    if (parsed.handlers.empty()) {
        problem = "The script has no handler.";
        return std::nullopt;
    }
    if (parsed.target.empty()) {
        problem = "The script tells no application.";
        return std::nullopt;
    }
    return parsed;
}

} // namespace

std::shared_ptr<AppleScript> AppleScript::create(std::string source) {
    return std::make_shared<AppleScript>(std::move(source));
}

bool AppleScript::compile(std::optional<ScriptErrorDictionary>* error) {
    if (compiled_) return true;
    {
        auto& d = detail::appleEventsDesktop();
        std::lock_guard lock(d.mutex);
        ++d.appleEvents.compilations;
    }
    std::string problem;
    auto parsed = parse(source_, problem);
    if (!parsed) {
        if (error) *error = errorDictionary(syntaxError, problem);
        return false;
    }
    targetBundleIdentifier_ = parsed->target;
    handlers_ = std::move(parsed->handlers);
    compiled_ = true;
    return true;
}

std::optional<AppleEventDescriptor> AppleScript::executeAppleEvent(const AppleEventDescriptor& event,
                                                                   std::optional<ScriptErrorDictionary>* error) {
    auto fail = [&](std::optional<ScriptErrorDictionary> dictionary) -> std::optional<AppleEventDescriptor> {
        if (error) *error = std::move(dictionary);
        return std::nullopt;
    };
    if (!compiled_) {
        std::optional<ScriptErrorDictionary> compileError;
        if (!compile(&compileError)) return fail(compileError);
    }
    auto name = event.paramDescriptorForKeyword(fourCharCode("snam"));
    if (event.kind() != AppleEventDescriptor::Kind::appleEvent || event.eventClass() != fourCharCode("ascr") ||
        event.eventID() != fourCharCode("psbr") || !name || !name->stringValue()) {
        return fail(errorDictionary(eventNotHandled, "The script doesn\u2019t understand this event."));
    }
    const std::string handler = lowercasedASCII(*name->stringValue());
    std::vector<AppleEventDescriptor> arguments;
    if (auto list = event.paramDescriptorForKeyword(fourCharCode("----"))) {
        for (int i = 1; i <= list->numberOfItems(); ++i) arguments.push_back(*list->descriptorAtIndex(i));
    }
    auto found = handlers_.find(handler);
    if (found == handlers_.end()) {
        return fail(errorDictionary(eventNotHandled, "\u00abscript\u00bb doesn\u2019t understand the \u201c" +
                                                         handler + "\u201d message."));
    }
    if (found->second != arguments.size()) {
        return fail(errorDictionary(wrongParameterCount,
                                    "Wrong number of parameters for the \u201c" + handler + "\u201d handler."));
    }

    std::shared_ptr<ScriptableApplication> application;
    std::string applicationName;
    std::optional<AppleEventDescriptor> replacement;
    {
        auto& d = detail::appleEventsDesktop();
        std::lock_guard lock(d.mutex);
        ++d.appleEvents.executions;
        if (!d.appleEvents.failingExecutions.empty()) {
            auto injected = std::move(d.appleEvents.failingExecutions.front());
            d.appleEvents.failingExecutions.pop_front();
            return fail(std::move(injected));
        }
        // The frontmost instance of the told application, else the first that runs.
        const ApplicationRecord* chosen = nullptr;
        if (auto* front = d.workspace.find(d.workspace.frontmost);
            front && front->application.bundleIdentifier == targetBundleIdentifier_) {
            chosen = front;
        }
        for (const auto& record : d.workspace.applications) {
            if (chosen) break;
            if (!record.application.isTerminated && record.application.bundleIdentifier == targetBundleIdentifier_) {
                chosen = &record;
            }
        }
        if (!chosen) return fail(errorDictionary(AppleEvents::procNotFound, "Application isn\u2019t running."));
        applicationName = chosen->application.localizedName;
        OSStatus permission = detail::automationStatusLocked(d, targetBundleIdentifier_);
        if (permission != AppleEvents::noErr) {
            return fail(errorDictionary(permission, "Not authorized to send Apple events to " + applicationName + "."));
        }
        auto scriptable = d.appleEvents.scriptable.find(chosen->application.processIdentifier);
        if (scriptable != d.appleEvents.scriptable.end()) application = scriptable->second.lock();
        if (!d.appleEvents.replacedReplies.empty()) {
            replacement = std::move(d.appleEvents.replacedReplies.front());
            d.appleEvents.replacedReplies.pop_front();
        }
    }
    if (!application) {
        return fail(errorDictionary(eventNotHandled, applicationName + " got an error: The application doesn\u2019t "
                                                                       "understand the \u201c" +
                                                         handler + "\u201d message."));
    }
    try {
        auto reply = application->handleScriptCall(handler, arguments);
        if (replacement) return replacement;
        return reply;
    } catch (const ScriptError& scriptError) {
        return fail(errorDictionary(scriptError.number, applicationName + " got an error: " + scriptError.message));
    }
}

} // namespace tarpelix::platform
