#include "platform/desktop/AppleEvents.h"
#include "platform/desktop/AppleEventsControl.h"
#include "platform/desktop/DesktopControl.h"
#include "platform/desktop/WorkspaceControl.h"

#include <gtest/gtest.h>


using namespace tarpelix::platform;

namespace {

const char* const echoScript = R"(-- answers with what it was given
on echo(first, second)
	tell application id "com.example.scriptable"
		(* a comment
		   (* nested *) over lines *)
		if first is "" then
			error "empty" number 1
		else
			return {first, second}
		end if
	end tell
end echo

on ping()
	tell application id "com.example.scriptable" to return "pong"
end ping
)";

// A scriptable application that answers each handler call with its arguments.
struct Echo : ScriptableApplication {
    std::vector<std::string> calls;
    AppleEventDescriptor handleScriptCall(const std::string& handler,
                                          const std::vector<AppleEventDescriptor>& arguments) override {
        calls.push_back(handler);
        if (!arguments.empty() && arguments[0].stringValue() == "fail") throw ScriptError(-10000, "it broke");
        auto reply = AppleEventDescriptor::list();
        for (const auto& argument : arguments) reply.insertDescriptor(argument, 0);
        return reply;
    }
};

AppleEventDescriptor subroutine(const std::string& name, const std::vector<std::string>& arguments) {
    auto event = AppleEventDescriptor::appleEvent(fourCharCode("ascr"), fourCharCode("psbr"), {}, -1, 0);
    event.setParamDescriptor(AppleEventDescriptor::text(name), fourCharCode("snam"));
    auto list = AppleEventDescriptor::list();
    for (const auto& argument : arguments) list.insertDescriptor(AppleEventDescriptor::text(argument), 0);
    event.setParamDescriptor(list, fourCharCode("----"));
    return event;
}

std::int64_t numberOf(const std::optional<ScriptErrorDictionary>& error) {
    return error ? std::get<std::int64_t>(error->at(AppleScriptErrorKey::number)) : 0;
}

class AppleScriptTest : public ::testing::Test {
protected:
    void SetUp() override {
        DesktopControl::reset();
        pid = WorkspaceControl::launchApplication({.bundleIdentifier = "com.example.scriptable", .localizedName = "Echo"});
        AppleEventsControl::setScriptableApplication(pid, echo);
        AppleEventsControl::setAutomationPermission("com.example.scriptable", AutomationAnswer::granted);
    }
    void TearDown() override { DesktopControl::reset(); }

    std::optional<AppleEventDescriptor> run(const std::string& name, const std::vector<std::string>& arguments) {
        error.reset();
        return script->executeAppleEvent(subroutine(name, arguments), &error);
    }

    pid_t pid = 0;
    std::shared_ptr<Echo> echo = std::make_shared<Echo>();
    std::shared_ptr<AppleScript> script = AppleScript::create(echoScript);
    std::optional<ScriptErrorDictionary> error;
};

} // namespace

TEST_F(AppleScriptTest, HandlerCallsReachTheToldApplication) {
    ASSERT_TRUE(script->compile());
    auto reply = run("ECHO", {"a", "b"}); // handler names ignore case
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->numberOfItems(), 2);
    EXPECT_EQ(reply->descriptorAtIndex(2)->stringValue(), "b");
    EXPECT_EQ(echo->calls, std::vector<std::string>{"echo"});
    EXPECT_TRUE(run("ping", {}).has_value());
    EXPECT_EQ(AppleEventsControl::compilations(), 1);
    EXPECT_EQ(AppleEventsControl::executions(), 2);
}

TEST_F(AppleScriptTest, ExecutionErrorsCarryNumberAndMessage) {
    struct Row {
        const char* name;
        std::function<void()> arrange;
        std::string handler;
        std::vector<std::string> arguments;
        std::int64_t number;
    };
    const Row rows[] = {
        {"unknown handler", [] {}, "capturetarget", {}, -1708},
        {"wrong number of arguments", [] {}, "echo", {"a"}, -1721},
        {"raised by the application", [] {}, "echo", {"fail", "x"}, -10000},
        {"Automation denied",
         [] { AppleEventsControl::setAutomationPermission("com.example.scriptable", AutomationAnswer::denied); },
         "ping", {}, -1743},
        {"Automation not yet asked",
         [] { AppleEventsControl::setAutomationPermission("com.example.scriptable", AutomationAnswer::wouldAsk); },
         "ping", {}, -1744},
        {"application not running", [&] { WorkspaceControl::quitApplication(pid); }, "ping", {}, -600},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SetUp();
        row.arrange();
        EXPECT_FALSE(run(row.handler, row.arguments).has_value());
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(numberOf(error), row.number);
    }
    SetUp();
    run("echo", {"fail", "x"});
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(std::get<std::string>(error->at(AppleScriptErrorKey::message)), "Echo got an error: it broke");
}

TEST(AppleScriptCompilation, BrokenSourcesDoNotCompile) {
    DesktopControl::reset();
    const std::pair<const char*, std::string> rows[] = {
        {"not UTF-8", "on a()\n\ttell application id \"x\" to return 1\nend a\n\xff"},
        {"no handler", "tell application id \"x\"\n\tbeep\nend tell\n"},
        {"no application", "on a()\n\treturn 1\nend a\n"},
        {"unclosed handler", "on a()\n\ttell application id \"x\" to return 1\n"},
        {"unclosed block", "on a()\n\ttell application id \"x\"\n\t\trepeat 3 times\n\tend tell\nend a\n"},
        {"mismatched end", "on a()\n\ttell application id \"x\"\n\tend repeat\nend a\n"},
        {"unclosed comment", "on a()\n\ttell application id \"x\" to return 1\nend a\n(* open"},
        {"handler twice", "on a()\n\ttell application id \"x\" to return 1\nend a\non a()\nend a\n"},
    };
    for (const auto& [name, source] : rows) {
        SCOPED_TRACE(name);
        std::optional<ScriptErrorDictionary> error;
        EXPECT_FALSE(AppleScript::create(source)->compile(&error));
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(std::get<std::int64_t>(error->at(AppleScriptErrorKey::number)), -2741);
    }
}
