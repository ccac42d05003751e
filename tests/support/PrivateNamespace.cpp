#include "support/PrivateNamespace.h"

#include "platform/foundation/LinuxProfile.h"
#include "support/Eventually.h"
#include "support/Processes.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarpelix::testing {

namespace {

std::string& reasonStorage() {
    static std::string reason = "the private mount namespace was not requested by this test program";
    return reason;
}

bool isUnder(const std::string& path, const std::string& root) {
    if (root == "/") return false;
    return path == root || (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                            path[root.size()] == '/');
}

void makeDirectories(const std::string& path) {
    std::string partial;
    std::size_t position = 1;
    while (position <= path.size()) {
        auto slash = path.find('/', position);
        if (slash == std::string::npos) slash = path.size();
        partial = path.substr(0, slash);
        ::mkdir(partial.c_str(), 0755);
        position = slash + 1;
    }
}

std::string failure(const std::string& what) { return what + ": " + std::strerror(errno); }

} // namespace

bool enterPrivateMountNamespace(const std::vector<std::string>& keep) {
    auto& reason = reasonStorage();
    if (::geteuid() != 0) {
        reason = "skipped: a private mount namespace needs root (run the tests as root or under unshare -m)";
        return false;
    }
    const std::string home = platform::LinuxProfile::passwordDatabaseHome();
    const std::vector<std::string> roots = {"/tmp", home};

    if (::unshare(CLONE_NEWNS) != 0) {
        reason = "skipped: " + failure("cannot make a private mount namespace (unshare)");
        return false;
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        reason = "skipped: " + failure("cannot make mounts private");
        return false;
    }
    // Kept directories are opened inside the new namespace (a descriptor of the old one cannot be
    // bind-mounted here) before anything is covered, and mounted back afterwards.
    struct Kept {
        std::string path;
        int fd;
    };
    std::vector<Kept> kept;
    struct CloseKept {
        std::vector<Kept>& kept;
        ~CloseKept() {
            for (const auto& entry : kept) ::close(entry.fd);
        }
    } closeKept{kept};
    for (const auto& path : keep) {
        for (const auto& root : roots) {
            if (!isUnder(path, root)) continue;
            int fd = ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            if (fd >= 0) kept.push_back({path, fd});
            break;
        }
    }

    if (::mount("tmpfs", "/tmp", "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777") != 0) {
        reason = "skipped: " + failure("cannot mount a private /tmp");
        return false;
    }
    if (home != "/" && home != "/tmp" &&
        ::mount("tmpfs", home.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "mode=0700") != 0) {
        reason = "skipped: " + failure("cannot mount a private home directory over " + home);
        return false;
    }
    for (auto& entry : kept) {
        makeDirectories(entry.path);
        auto source = "/proc/self/fd/" + std::to_string(entry.fd);
        if (::mount(source.c_str(), entry.path.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) {
            reason = "skipped: " + failure("cannot keep " + entry.path + " visible");
            return false;
        }
    }
    reason.clear();
    return true;
}

const std::string& privateNamespaceUnavailableReason() { return reasonStorage(); }

void bindMount(const std::string& source, const std::string& target) {
    if (::mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0)
        throw std::runtime_error(failure("cannot bind " + source + " over " + target));
}

void unmount(const std::string& target) { ::umount2(target.c_str(), MNT_DETACH); }

namespace {
std::string mountNamespaceOf(const std::string& pid) {
    char buffer[128];
    auto path = "/proc/" + pid + "/ns/mnt";
    ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}
} // namespace

std::vector<pid_t> otherProcessesInNamespace() {
    if (!privateNamespaceUnavailableReason().empty()) return {};
    const std::string ours = mountNamespaceOf("self");
    const pid_t self = ::getpid();
    return livingProcesses([&](const ProcessStatus& status) {
        return status.pid != self && mountNamespaceOf(std::to_string(status.pid)) == ours;
    });
}

void stopEveryOtherProcessInNamespace() {
    if (!privateNamespaceUnavailableReason().empty()) return;
    waitUntil([&] {
        auto others = otherProcessesInNamespace();
        for (pid_t pid : others) {
            ::kill(pid, SIGKILL);
            int status = 0;
            ::waitpid(pid, &status, WNOHANG); // reaps those that are our own children
        }
        return others.empty();
    }, 20.0);
}

} // namespace tarpelix::testing
