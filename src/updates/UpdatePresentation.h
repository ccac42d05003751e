#pragma once

#include <string>

namespace tarpelix {

// What the status menu, the main menu and the General page of Settings show of updates.
struct UpdatePresentation {
    bool automaticallyChecks = false;
    bool canCheck = false;
    std::string title;
    std::string detail;

    bool operator==(const UpdatePresentation&) const = default;
};

} // namespace tarpelix
