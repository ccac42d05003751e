#pragma once

#include <string>

namespace tarpelix::testing {

// A fresh directory under $TMPDIR or /tmp, removed with its contents when released.
class TemporaryDirectory {
public:
    explicit TemporaryDirectory(const std::string& prefix = "tarpelix-test");
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

    // Writes a file (replacing it) and returns its path.
    std::string write(const std::string& name, const std::string& content, unsigned mode = 0644) const;

private:
    std::string path_;
};

// Removes a file or a whole directory tree; missing paths are fine.
void removeTree(const std::string& path);
std::string readFile(const std::string& path);
// Leaves a Unix socket file at `path` whose listener is gone, as a server killed without
// cleaning up does; returns the path.
std::string makeStaleSocket(const std::string& path);

} // namespace tarpelix::testing
