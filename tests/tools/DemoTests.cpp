#include "support/Command.h"
#include "support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <regex>
#include <unistd.h>

namespace tarpelix::testing {
namespace {

namespace fs = std::filesystem;

// The demo, with what it printed on standard output and on standard error.
struct DemoRun {
    int status;
    std::string output;
    std::string errors;
};

DemoRun runDemo(const std::vector<std::string>& arguments) {
    TemporaryDirectory directory;
    std::vector<std::string> command{TARPELIX_DEMO};
    command.insert(command.end(), arguments.begin(), arguments.end());
    const auto result = runCommand(command, {}, directory.file("errors"));
    return {result.status, result.output, readFile(directory.file("errors"))};
}

TEST(Demo, GoesFromAFirstLaunchThroughSetupAndBothPastesToTheQuit) {
    // sshd and the private mount namespace the demo makes need root.
    if (::geteuid() != 0) GTEST_SKIP() << "the demo needs root";
    const auto run = runDemo({});
    ASSERT_EQ(run.status, 0) << run.output << run.errors;

    // The user's steps, in order.
    std::size_t at = 0;
    for (const char* step : {"setup opens by itself", "\"Get Started\"", "Ghostty", "Accessibility",
                             "Clipboard", "Ghostty Automation", "First paste complete", "\"Enable\"", "\"Finish\"",
                             "An everyday paste", "Normal paste", "Last Paste Status", "Settings: Storage",
                             "\"Review…\"", "save panel", "Quit"}) {
        const auto found = run.output.find(step, at);
        ASSERT_NE(found, std::string::npos) << "\"" << step << "\" after offset " << at << ":\n" << run.output;
        at = found;
    }
    EXPECT_NE(run.output.find("local shell Control+V    passed through as a normal paste"), std::string::npos);
    EXPECT_NE(run.output.find("diagnostic report        saved, redacted"), std::string::npos);

    // Both pastes typed the path they confirmed, each a different upload.
    const std::regex typed(R"(typed path +(/\S+/uploads/[0-9A-F-]+\.png))");
    std::vector<std::string> paths;
    for (std::sregex_iterator match(run.output.begin(), run.output.end(), typed), end; match != end; ++match) {
        paths.push_back((*match)[1]);
        EXPECT_NE(run.output.find("\"confirmedRemotePath\":\"" + std::regex_replace(paths.back(), std::regex("/"), "\\/")),
                  std::string::npos);
    }
    ASSERT_EQ(paths.size(), 2u) << run.output;
    EXPECT_NE(paths[0], paths[1]);

    // Each stored date reads as the seconds since 2001-01-01 it is printed beside.
    const std::regex date(R"(([0-9.]+) s since 2001-01-01 = (\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d)\.(\d{3})Z)");
    int dates = 0;
    for (std::sregex_iterator match(run.output.begin(), run.output.end(), date), end; match != end; ++match, ++dates) {
        const double seconds = std::stod((*match)[1]) + 978307200.0; // since 1970
        const auto milliseconds = static_cast<std::int64_t>(std::floor(seconds * 1000.0));
        const auto whole = static_cast<std::time_t>(milliseconds / 1000);
        std::tm utc{};
        gmtime_r(&whole, &utc);
        char expected[32];
        std::strftime(expected, sizeof expected, "%Y-%m-%dT%H:%M:%S", &utc);
        EXPECT_EQ((*match)[2], std::string(expected));
        EXPECT_EQ(std::stoi((*match)[3]), milliseconds % 1000) << "truncated to the millisecond";
    }
    EXPECT_EQ(dates, 4) << "created and updated, for each paste";

    // Every window it opened, drawn as a PNG.
    const fs::path pictures = fs::path(TARPELIX_BINARY_DIR) / "demo";
    for (const std::string name : {"setup-welcome", "setup-terminal", "setup-permissions", "setup-first-paste-complete",
                                   "setup-finish", "overlay", "status-menu", "last-paste-status", "settings-storage",
                                   "settings-diagnostics", "report-preview", "report-save-panel"}) {
        bool drawn = false;
        for (const auto& entry : fs::directory_iterator(pictures)) {
            const auto file = entry.path().filename().string();
            if (file.size() == name.size() + 7 && file.substr(3, name.size()) == name && file.ends_with(".png")) {
                drawn = readFile(entry.path()).starts_with("\x89PNG\r\n\x1a\n");
            }
        }
        EXPECT_TRUE(drawn) << name;
    }
    EXPECT_TRUE(fs::exists(pictures / "diagnostic-report.txt"));
}

TEST(Demo, RefusesArgumentsAndImagesItCannotUse) {
    TemporaryDirectory directory;
    const auto text = directory.write("notes.txt", "not an image\n");
    struct Row {
        std::vector<std::string> arguments;
        int status;
        std::string says;
    };
    const Row rows[] = {
        {{"--image"}, 2, "usage: tarpelix_demo [--image FILE]"},
        {{"--colour", "blue"}, 2, "usage: tarpelix_demo [--image FILE]"},
        {{"--image", directory.file("missing.png")}, 1, "demo: cannot read " + directory.file("missing.png")},
        {{"--image", text}, 1, "demo: " + text + " is neither a PNG nor a TIFF image"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.arguments.back());
        const auto run = runDemo(row.arguments);
        EXPECT_EQ(run.status, row.status);
        EXPECT_NE(run.errors.find(row.says), std::string::npos) << run.errors;
        EXPECT_EQ(run.output, "") << "nothing started";
    }
}

} // namespace
} // namespace tarpelix::testing
