#include "support/SSHServer.h"

#include "platform/foundation/LinuxProfile.h"
#include "support/Eventually.h"
#include "support/PrivateNamespace.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fstream>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarpelix::testing {

namespace {

int freePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

bool accepts(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

void makeKey(const std::string& path) {
    ::unlink(path.c_str());
    ::unlink((path + ".pub").c_str());
    auto result = runCommand({"/usr/bin/ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-C", "tarpelix-test", "-f", path});
    if (result.status != 0) throw std::runtime_error("ssh-keygen failed for " + path);
}

void writeFile(const std::string& path, const std::string& content, mode_t mode) {
    std::ofstream(path, std::ios::trunc) << content;
    ::chmod(path.c_str(), mode);
}

std::string firstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

} // namespace

SSHServer::SSHServer(Options options) {
    if (!privateNamespaceUnavailableReason().empty())
        throw std::runtime_error("the sshd fixture needs the private namespace");
    home_ = platform::LinuxProfile::passwordDatabaseHome();
    ::mkdir((home_ + "/.ssh").c_str(), 0700);
    ::chmod((home_ + "/.ssh").c_str(), 0700);
    makeKey(work_.file("host_key"));
    makeKey(home_ + "/.ssh/id_ed25519");
    writeFile(work_.file("authorized_keys"), readFile(home_ + "/.ssh/id_ed25519.pub"), 0600);

    port_ = freePort();
    std::string config = "ListenAddress 127.0.0.1\nPort " + std::to_string(port_) + "\nHostKey " +
                         work_.file("host_key") + "\nPidFile " + work_.file("sshd.pid") +
                         "\nAuthorizedKeysFile " + work_.file("authorized_keys") +
                         "\nPubkeyAuthentication yes\nPasswordAuthentication no\nKbdInteractiveAuthentication no\n"
                         "UsePAM no\nPermitRootLogin prohibit-password\nStrictModes no\nLogLevel VERBOSE\n";
    for (const auto& line : options.extraConfig) config += line + "\n";
    if (!options.forceCommand.empty())
        config += "ForceCommand " + work_.write("remote.sh", "#!/bin/sh\n" + options.forceCommand + "\n", 0755) + "\n";
    writeFile(work_.file("sshd_config"), config, 0600);

    ::mkdir("/run/sshd", 0755);
    auto checked = runCommand({"/usr/sbin/sshd", "-t", "-f", work_.file("sshd_config")}, {}, work_.file("sshd.log"));
    if (checked.status != 0) throw std::runtime_error("sshd refused its configuration: " + log());
    server_ = std::make_unique<BackgroundProcess>(
        std::vector<std::string>{"/usr/sbin/sshd", "-D", "-e", "-f", work_.file("sshd_config")}, work_.file("sshd.log"));
    if (!waitUntil([&] { return accepts(port_) || !server_->running(); }) || !server_->running())
        throw std::runtime_error("sshd did not start: " + log());

    auto hostKey = firstLine(readFile(work_.file("host_key.pub")));
    writeFile(home_ + "/.ssh/known_hosts",
              "[127.0.0.1]:" + std::to_string(port_) + " " + hostKey.substr(0, hostKey.rfind(' ')) + "\n", 0600);
    writeClientConfig();
}

SSHServer::~SSHServer() { stop(); }

void SSHServer::writeClientConfig(const std::string& extra) const {
    writeFile(home_ + "/.ssh/config",
              "Host " + alias + "\n  HostName 127.0.0.1\n  Port " + std::to_string(port_) +
                  "\n  User root\n  IdentityFile ~/.ssh/id_ed25519\n  IdentitiesOnly yes\n" + extra,
              0600);
}

void SSHServer::replaceKnownHostKey() const {
    auto other = work_.file("other_host_key");
    makeKey(other);
    auto key = firstLine(readFile(other + ".pub"));
    writeFile(home_ + "/.ssh/known_hosts",
              "[127.0.0.1]:" + std::to_string(port_) + " " + key.substr(0, key.rfind(' ')) + "\n", 0600);
}

void SSHServer::refuseClientKey() const { writeFile(work_.file("authorized_keys"), "", 0600); }

std::string SSHServer::log() const { return readFile(work_.file("sshd.log")); }

int SSHServer::acceptedAuthentications() const {
    auto text = log();
    int count = 0;
    for (std::size_t at = text.find("Accepted publickey"); at != std::string::npos;
         at = text.find("Accepted publickey", at + 1))
        ++count;
    return count;
}

void SSHServer::stop() {
    // Ask every master an upload left behind to close, then make sure nothing is left.
    const std::string directory = "/tmp/tarpelix-ssh-" + std::to_string(::getuid());
    if (DIR* dir = ::opendir(directory.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            std::string name = entry->d_name;
            if (name.rfind("c-", 0) != 0) continue;
            runCommand({"/usr/bin/ssh", "-o", "ControlPath=" + directory + "/" + name, "-O", "exit", alias});
        }
        ::closedir(dir);
    }
    if (server_) server_->stop();
    server_.reset();
    stopEveryOtherProcessInNamespace();
}

} // namespace tarpelix::testing
