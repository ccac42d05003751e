#pragma once

// What the demo prints and draws, and the images it copies.

#include "model/PasteFeedback.h"
#include "model/TransferRecord.h"
#include "platform/foundation/Bytes.h"

#include <filesystem>
#include <string>

namespace tarpelix::platform {
class Menu;
class Window;
} // namespace tarpelix::platform

namespace tarpelix::demo {

// How long the demo waits for any one thing to happen before it gives up on the run.
constexpr double patience = 60.0;

// "== title": a step of the scenario.
void step(const std::string& title);
// "  label   value"
void line(const std::string& label, const std::string& value);
// "demo: message" on stderr.
void fail(const std::string& message);

// Whether the bytes are a PNG, or a TIFF, by the signature the application's image reader
// recognises.
bool isPNG(const platform::Bytes& data);
bool isTIFF(const platform::Bytes& data);
// A desktop of 1440 × 900 with a terminal window on it.
platform::Bytes screenshot();
// A chart of 800 × 480: bars over a light background; a second image, unlike the first.
platform::Bytes chart();

std::string describe(const PasteFeedback& feedback);
// The record's JSON as stored, then each date in seconds since 2001-01-01 beside its reading.
void printRecord(const TransferRecord& record);

// The PNGs of one run, numbered in the order they were drawn so that a listing reads as the
// story: a window as the user sees it, and what a screen reader says of it.
class Pictures {
public:
    // Empties `directory` of an earlier run's pictures.
    explicit Pictures(std::filesystem::path directory);
    const std::filesystem::path& directory() const { return directory_; }
    // Draws the window to "<nn>-<name>.png" and prints what a screen reader reads of it.
    void window(platform::Window& window, const std::string& name);
    // The window with the sheet it shows drawn over it; what a screen reader reads of the sheet.
    void sheet(platform::Window& parent, const std::string& name);
    // The open menu, drawn and read the same way.
    void menu(const platform::Menu& menu, const std::string& name);
    // The path for the next picture called `name`.
    std::filesystem::path next(const std::string& name);

private:
    std::filesystem::path directory_;
    int count_ = 0;
};

} // namespace tarpelix::demo
