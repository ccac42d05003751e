#pragma once

#include "support/Command.h"
#include "support/TemporaryDirectory.h"

#include <memory>
#include <string>
#include <vector>

namespace tarpelix::testing {

// A private OpenSSH server on 127.0.0.1 for upload tests: host and client keys made at run
// time, `sshd -D -e` on a free port with verbose logging, and in the (private) home directory
// the client key, a known-hosts entry and a configuration with the Host alias `alias`.
// Needs the private mount namespace (the home directory must be the test's own). Everything
// it starts, it stops, including connection masters left by the uploads.
class SSHServer {
public:
    struct Options {
        std::string forceCommand;             // a shell script body run for every session in place
                                              // of the requested command (which it finds in
                                              // $SSH_ORIGINAL_COMMAND), if not empty
        std::vector<std::string> extraConfig; // further sshd_config lines
    };

    static inline const std::string alias = "tarpelix-test";

    SSHServer() : SSHServer(Options{}) {}
    explicit SSHServer(Options options);
    ~SSHServer();
    SSHServer(const SSHServer&) = delete;
    SSHServer& operator=(const SSHServer&) = delete;

    int port() const { return port_; }
    const std::string& home() const { return home_; }
    // The client configuration; `extra` is appended (further Host blocks).
    void writeClientConfig(const std::string& extra = "") const;
    // Replaces the known-hosts file's key for this server with another one.
    void replaceKnownHostKey() const;
    // Empties the authorized keys, so the client key is refused.
    void refuseClientKey() const;
    // What sshd logged so far, and how many public-key authentications it accepted.
    std::string log() const;
    int acceptedAuthentications() const;
    // Closes every connection master the uploads left and stops the server.
    void stop();

private:
    TemporaryDirectory work_{"tarpelix-sshd"};
    std::string home_;
    int port_ = 0;
    std::unique_ptr<BackgroundProcess> server_;
};

} // namespace tarpelix::testing
