#include "terminal/GhosttyCompatibility.h"
#include "support/MainLoop.h"
#include "support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace tarpelix;
using Status = GhosttyCompatibility::Status;
using tarpelix::testing::runMainUntil;
using tarpelix::testing::TemporaryDirectory;

namespace {

// Our own test dictionary: the scripting terms the adapter's script uses, one per line, so
// that each case can leave one out or change it.
const std::vector<std::string> terms = {
    R"(<class name="application" code="capp"><property name="front window" code="GFWn" type="window"/></class>)",
    R"(<class name="window" code="cwin"><property name="id" code="ID  " type="text"/>)"
    R"(<property name="selected tab" code="GWsT" type="tab"/></class>)",
    R"(<class name="tab" code="GTab"><property name="id" code="ID  " type="text"/>)"
    R"(<property name="focused terminal" code="GTfT" type="terminal"/></class>)",
    R"(<class name="terminal" code="GTrm"><property name="id" code="ID  " type="text"/>)"
    R"(<property name="tty" code="Gtty" type="text"/></class>)",
    R"(<command name="input text" code="GhstInTx"><parameter name="to" code="GItT" type="terminal"/></command>)",
};

std::string dictionaryElement(const std::vector<std::string>& body) {
    std::string xml = "<dictionary title=\"Test Terminology\"><suite name=\"Test\" code=\"Test\">\n";
    for (const auto& line : body) xml += line + "\n";
    return xml + "</suite></dictionary>\n";
}

std::string dictionary(const std::vector<std::string>& body, const std::string& doctype = "") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + doctype + dictionaryElement(body);
}

std::vector<std::string> replaced(std::size_t index, const std::string& from, const std::string& to) {
    auto body = terms;
    body[index].replace(body[index].find(from), from.size(), to);
    return body;
}

platform::Bytes bytes(const std::string& text) { return platform::Bytes(text.begin(), text.end()); }

} // namespace

TEST(GhosttyCompatibility, InspectionFindsEveryRequiredTermExactly) {
    struct Row {
        const char* name;
        std::string xml;
        Status expected;
    };
    auto withoutTo = terms;
    withoutTo[4] = R"(<command name="input text" code="GhstInTx"/>)";
    const Row rows[] = {
        {"all terms", dictionary(terms), Status::supported},
        {"dictionary nested deeper", "<root><sdef>" + dictionaryElement(terms) + "</sdef></root>", Status::supported},
        {"input text without its to parameter", dictionary(withoutTo), Status::updateRequired},
        {"id without the two blanks", dictionary(replaced(1, "code=\"ID  \"", "code=\"ID\"")), Status::updateRequired},
        {"another case", dictionary(replaced(3, "name=\"tty\"", "name=\"TTY\"")), Status::updateRequired},
        {"type as a nested element",
         dictionary(replaced(3, R"(code="Gtty" type="text"/>)", R"(code="Gtty"><type type="text"/></property>)")),
         Status::updateRequired},
        {"property in a class extension",
         dictionary(replaced(0, terms[0],
                             R"(<class-extension extends="application">)"
                             R"(<property name="front window" code="GFWn" type="window"/></class-extension>)")),
         Status::updateRequired},
        {"not well-formed", dictionary(terms).substr(0, 200), Status::unavailable},
        {"no dictionary element", "<suite><class name=\"window\"/></suite>", Status::unavailable},
        {"empty", "", Status::unavailable},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(GhosttyCompatibility::inspect(bytes(row.xml)), row.expected);
    }
}

TEST(GhosttyCompatibility, AnExternalEntityIsNeverFetched) {
    TemporaryDirectory directory;
    // If the entity were read, it would supply the missing command and make it supported.
    auto entity = directory.write("extra.xml", terms[4]);
    auto body = terms;
    body[4] = "&extra;";
    auto xml = dictionary(body, "<!DOCTYPE dictionary [<!ENTITY extra SYSTEM \"file://" + entity + "\">]>\n");
    EXPECT_EQ(GhosttyCompatibility::inspect(bytes(xml)), Status::updateRequired);
}

TEST(GhosttyCompatibility, ChecksReadTheBundlesDictionaryWithinTheLimitAndAnswerOnTheMainQueue) {
    TemporaryDirectory applications;
    const std::string app = applications.path() + "/Ghostty.app";
    std::filesystem::create_directories(app + "/Contents/Resources");
    const std::string sdef = app + "/Contents/Resources/Ghostty.sdef";
    GhosttyCompatibility checker;
    auto check = [&] {
        std::optional<Status> result;
        checker.check(app, [&](Status status) { result = status; });
        EXPECT_FALSE(result.has_value()); // never before check() returned
        EXPECT_TRUE(runMainUntil([&] { return result.has_value(); }));
        return result.value_or(Status::checking);
    };
    EXPECT_EQ(check(), Status::updateRequired); // no dictionary in the bundle

    auto write = [&](const std::string& content) { std::ofstream(sdef, std::ios::binary | std::ios::trunc) << content; };
    auto padded = [&](std::size_t size) {
        std::string xml = dictionary(terms);
        return xml + std::string(size - xml.size(), ' '); // trailing blanks keep it well-formed
    };
    write(padded(GhosttyCompatibility::dictionaryLimit));
    EXPECT_EQ(check(), Status::supported);
    EXPECT_EQ(check(), Status::supported); // the same bytes again
    write(padded(GhosttyCompatibility::dictionaryLimit + 1));
    EXPECT_EQ(check(), Status::unavailable);
    write(dictionary(replaced(1, "code=\"ID  \"", "code=\"ID\"")));
    EXPECT_EQ(check(), Status::updateRequired); // changed contents are parsed again
    std::filesystem::remove(sdef);
    std::filesystem::create_directory(sdef);
    EXPECT_EQ(check(), Status::unavailable); // no file size
}
