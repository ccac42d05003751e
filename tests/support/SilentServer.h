#pragma once

namespace tarpelix::testing {

// A port on 127.0.0.1 whose connections wait in the kernel's backlog and are never answered:
// an ssh client connecting to it waits for the server's greeting for good.
class SilentServer {
public:
    SilentServer();
    ~SilentServer();
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

} // namespace tarpelix::testing
