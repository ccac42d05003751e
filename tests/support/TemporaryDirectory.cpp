#include "support/TemporaryDirectory.h"

#include <cstdlib>
#include <fstream>
#include <ftw.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace tarpelix::testing {

TemporaryDirectory::TemporaryDirectory(const std::string& prefix) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/" + prefix + "-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed for " + pattern);
    path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory() { removeTree(path_); }

std::string TemporaryDirectory::write(const std::string& name, const std::string& content, unsigned mode) const {
    auto path = file(name);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << content;
        if (!out) throw std::runtime_error("cannot write " + path);
    }
    ::chmod(path.c_str(), mode);
    return path;
}

void removeTree(const std::string& path) {
    ::nftw(
        path.c_str(),
        [](const char* entry, const struct stat*, int, struct FTW*) {
            ::remove(entry);
            return 0;
        },
        16, FTW_DEPTH | FTW_PHYS);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string makeStaleSocket(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) throw std::runtime_error("socket path too long: " + path);
    path.copy(address.sun_path, path.size());
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int bound = fd < 0 ? -1 : ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    if (fd >= 0) ::close(fd);
    if (bound != 0) throw std::runtime_error("cannot make a socket at " + path);
    return path;
}

} // namespace tarpelix::testing
