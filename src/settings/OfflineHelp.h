#pragma once

#include "ui/InterfaceIcon.h"

#include <optional>
#include <string>
#include <vector>

namespace tarpelix::OfflineHelp {

// The built-in help, which works without a network: constants of the program, nothing loaded.

// The Settings page a topic's button leads to.
enum class Destination { permissions, storage, diagnostics, general };
// "Open Permissions", "Open Storage", "Open Diagnostics", "Open General".
std::string title(Destination destination);

// One collapsible topic.
struct Section {
    std::string title;
    InterfaceIcon icon;
    std::string body; // paragraphs separated by one empty line
    std::optional<Destination> destination;
    std::vector<std::string> code = {}; // terms set in the code font wherever they occur in the body
};

extern const std::string pasteGuide;
extern const std::string pasteDetail;

// The eleven topics in display order, built once.
const std::vector<Section>& sections();

} // namespace tarpelix::OfflineHelp
