#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarpelix {

// Which of the supported terminals are installed and which of them run, for the terminal step
// of the first-run setup. Main thread.
class OnboardingTerminalDiscovery {
public:
    struct Terminal {
        std::string id;   // bundle identifier
        std::string name; // display name
        std::string url;  // the application bundle's path
        bool isRunning = false;
        bool operator==(const Terminal&) const = default;
    };

    // The installed terminals, in the order of the known-terminals table.
    struct Snapshot {
        std::vector<Terminal> terminals;
        bool operator==(const Snapshot&) const = default;

        // The saved id while it is listed; else the only running terminal; else the first
        // listed one; none when nothing is listed.
        std::optional<std::string> preferredID(const std::optional<std::string>& savedID) const;
        // The listed terminal with that id; none when it is not listed.
        const Terminal* terminal(const std::optional<std::string>& id) const;
    };

    struct Dependencies {
        // The installed application's bundle path; none when it is not installed.
        std::function<std::optional<std::string>(const std::string& id)> applicationURL;
        std::function<bool(const std::string& id)> running;

        // The workspace's installed and running applications.
        static Dependencies live();
    };

    explicit OnboardingTerminalDiscovery(Dependencies dependencies) : dependencies_(std::move(dependencies)) {}

    Snapshot discover() const;

private:
    Dependencies dependencies_;
};

} // namespace tarpelix
