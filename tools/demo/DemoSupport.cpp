#include "DemoSupport.h"

#include "diagnostics/DiagnosticReport.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/ScreenReader.h"
#include "platform/appkit/Window.h"
#include "platform/foundation/Date.h"
#include "platform/imageio/ImageSource.h"
#include "support/TestImages.h"

#include <charconv>
#include <cstdio>
#include <optional>

namespace tarpelix::demo {

using platform::Bytes;

void step(const std::string& title) {
    std::printf("\n== %s\n", title.c_str());
    std::fflush(stdout);
}

void line(const std::string& label, const std::string& value) {
    // A value of several lines keeps its column.
    std::string indented;
    for (const char c : value) {
        indented += c;
        if (c == '\n') indented += std::string(27, ' ');
    }
    std::printf("  %-24s %s\n", label.c_str(), indented.c_str());
    std::fflush(stdout);
}

void fail(const std::string& message) {
    std::fflush(stdout);
    std::fprintf(stderr, "demo: %s\n", message.c_str());
    std::fflush(stderr);
}

namespace {
// The type the image's signature declares, when it is one the application reads.
std::optional<std::string> imageType(const Bytes& data) {
    const auto source = platform::ImageSource::create(data);
    return source ? source->type() : std::nullopt;
}
} // namespace

bool isPNG(const Bytes& data) {
    return imageType(data) == platform::ImageType::png;
}

bool isTIFF(const Bytes& data) {
    return imageType(data) == platform::ImageType::tiff;
}

Bytes screenshot() {
    return testing::makePNG(testing::PngSpec{
        .width = 1440,
        .height = 900,
        .colorType = PNG_COLOR_TYPE_RGB,
        .samples = [](std::uint32_t x, std::uint32_t y, int c) -> std::uint32_t {
            const bool inWindow = x >= 160 && x < 1280 && y >= 120 && y < 780;
            if (!inWindow) return c == 2 ? 120 + y / 8 : 40 + (x + y) / 24 % 60; // wallpaper
            if (y < 148) return c == 0 ? 214 : 220;                             // title bar
            const bool text = (y - 160) % 24 < 14 && x >= 184 && x < 184 + (y * 37 % 700);
            if (text) return c == 1 ? 230 : 200;
            return 30; // terminal background
        }});
}

Bytes chart() {
    return testing::makePNG(testing::PngSpec{
        .width = 800,
        .height = 480,
        .colorType = PNG_COLOR_TYPE_RGB,
        .samples = [](std::uint32_t x, std::uint32_t y, int c) -> std::uint32_t {
            if (x < 60 || x >= 760 || y < 40 || y >= 440) return 246; // margin
            if (y == 439 || x == 60) return 90;                       // axes
            const std::uint32_t bar = (x - 80) / 100;
            const bool inBar = x >= 80 && (x - 80) % 100 < 60 && bar < 7;
            const std::uint32_t top = 420 - (bar * 53 + 90) % 360;
            if (inBar && y >= top) {
                static const std::uint32_t colours[3][3] = {{52, 120, 246}, {240, 140, 40}, {60, 170, 90}};
                return colours[bar % 3][c];
            }
            return (y - 40) % 50 == 0 ? 225 : 252; // grid lines
        }});
}

namespace {
const char* stageName(PasteFeedback::Stage stage) {
    switch (stage) {
    case PasteFeedback::Stage::preparing: return "preparing";
    case PasteFeedback::Stage::resolving: return "resolving";
    case PasteFeedback::Stage::uploading: return "uploading";
    case PasteFeedback::Stage::inserting: break;
    }
    return "inserting";
}
} // namespace

std::string describe(const PasteFeedback& feedback) {
    std::string text = stageName(feedback.stage);
    if (feedback.outcome) {
        text = rawValue(*feedback.outcome);
        if (feedback.explanation) text += ": " + *feedback.explanation;
    } else if (feedback.stage == PasteFeedback::Stage::resolving && feedback.destination) {
        text += " — " + *feedback.destination;
    }
    return text;
}

void printRecord(const TransferRecord& record) {
    line("stored record", record.json());
    const auto date = [](platform::Date value) {
        // The seconds as stored (shortest round trip), then the date they stand for.
        char seconds[32];
        const auto end = std::to_chars(seconds, seconds + sizeof seconds, value.secondsSinceReferenceDate).ptr;
        return std::string(seconds, end) + " s since 2001-01-01 = " + DiagnosticReport::isoTimestamp(value);
    };
    line("  createdAt", date(record.createdAt));
    line("  updatedAt", date(record.updatedAt));
}

Pictures::Pictures(std::filesystem::path directory) : directory_(std::move(directory)) {
    std::filesystem::remove_all(directory_);
    std::filesystem::create_directories(directory_);
}

std::filesystem::path Pictures::next(const std::string& name) {
    char number[16];
    std::snprintf(number, sizeof number, "%02d-", ++count_);
    return directory_ / (number + name + ".png");
}

void Pictures::window(platform::Window& window, const std::string& name) {
    const auto path = next(name);
    window.writePNG(path);
    line("[window]", path.string());
    for (const auto& spoken : platform::ScreenReader::read(window)) line("", spoken);
}

void Pictures::sheet(platform::Window& parent, const std::string& name) {
    const auto path = next(name);
    parent.writePNG(path);
    line("[sheet]", path.string());
    if (const auto* sheet = parent.attachedSheet()) {
        for (const auto& spoken : platform::ScreenReader::read(*sheet)) line("", spoken);
    }
}

void Pictures::menu(const platform::Menu& menu, const std::string& name) {
    const auto path = next(name);
    menu.writePNG(path);
    line("[menu]", path.string());
    for (const auto& item : menu.accessibilityLines()) line("", item);
}

} // namespace tarpelix::demo
