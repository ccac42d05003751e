#include "SessionTestSupport.h"
#include "model/PasteOperation.h"
#include "platform/foundation/LinuxProfile.h"
#include "session/LocalTmuxResolver.h"
#include "session/SSHSessionResolver.h"
#include "ssh/SSHConfiguration.h"
#include "support/Eventually.h"
#include "support/Failures.h"
#include "support/PrivateNamespace.h"
#include "support/SilentServer.h"
#include "support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarpelix;
using namespace tarpelix::testing;

namespace {

// A silent server with the user's alias "tarpelix-test" for it: an ssh to the alias waits in
// the foreground for as long as a test needs.
class SilentHost : public SilentServer {
public:
    SilentHost() {
        auto home = platform::LinuxProfile::passwordDatabaseHome();
        ::mkdir((home + "/.ssh").c_str(), 0700);
        std::ofstream(home + "/.ssh/config", std::ios::trunc)
            << "Host tarpelix-test\n  HostName 127.0.0.1\n  Port " << port() << "\n  User root\n";
        ::chmod((home + "/.ssh/config").c_str(), 0600);
    }
    ~SilentHost() { removeTree(platform::LinuxProfile::passwordDatabaseHome() + "/.ssh"); }
};

// Resolves until the verdict is of the wanted kind (programs take a moment to start).
template <typename Case>
std::optional<SessionResolution> resolvedAs(const std::string& tty, SessionResolution* last = nullptr) {
    std::optional<SessionResolution> found;
    waitUntil([&] {
        auto resolution = SSHSessionResolver().resolve(tty, PasteOperation::create());
        if (last) *last = resolution;
        if (resolution.as<Case>()) found = resolution;
        return found.has_value();
    });
    return found;
}

PseudoTerminal::Options interactiveBash() {
    auto options = program("/bin/bash", {"bash", "-i"});
    options.environment = tmuxEnvironment();
    return options;
}

class Resolution : public ::testing::Test {
protected:
    void SetUp() override {
        TARPELIX_REQUIRE_PRIVATE_NAMESPACE();
        LocalTmuxResolver::clearCachedRoute();
        SSHConfigurationEvaluator::clearCache();
        emptyTmuxDirectory();
    }
};

} // namespace

TEST_F(Resolution, ADirectSSHIsResolvedAndItsReplacementFailsRevalidation) {
    SilentHost server;
    PseudoTerminal bash(interactiveBash());
    bash.type("/usr/bin/ssh tarpelix-test\n");
    SessionResolution last;
    auto resolution = resolvedAs<SessionResolution::SSH>(bash.tty(), &last);
    ASSERT_TRUE(resolution.has_value()) << last.status();
    const auto& session = resolution->as<SessionResolution::SSH>()->session;
    EXPECT_EQ(session.foreground.destination.original, "tarpelix-test");
    EXPECT_EQ(session.configuration.hostname, "127.0.0.1");
    EXPECT_EQ(session.configuration.port, server.port());
    EXPECT_EQ(session.localTmux, std::nullopt);
    EXPECT_EQ(resolution->status(), "SSH tarpelix-test → root@127.0.0.1:" + std::to_string(server.port()) + " · PID " +
                                         std::to_string(session.foreground.process.identity.pid) + " · " + bash.tty());
    SSHSessionResolver resolver;
    EXPECT_NO_THROW(resolver.revalidate(session, PasteOperation::create()));

    // The user reconnects: another ssh process in the same terminal.
    bash.type("\x03");
    ASSERT_TRUE(resolvedAs<SessionResolution::LocalShell>(bash.tty()).has_value());
    bash.type("/usr/bin/ssh tarpelix-test\n");
    ASSERT_TRUE(resolvedAs<SessionResolution::SSH>(bash.tty()).has_value());
    EXPECT_EQ(failureOf([&] { resolver.revalidate(session, nullptr); }),
              "Foreground SSH process exited, changed, or was replaced");
}

TEST_F(Resolution, AnSSHInsideLocalTmuxCarriesItsRoute) {
    SilentHost server;
    TmuxServer tmux("default");
    tmux.tmux({"send-keys", "-t", "main", "/usr/bin/ssh tarpelix-test", "Enter"});
    auto client = tmux.attach();
    SessionResolution last;
    auto resolution = resolvedAs<SessionResolution::SSH>(client->tty(), &last);
    ASSERT_TRUE(resolution.has_value()) << last.status();
    const auto& session = resolution->as<SessionResolution::SSH>()->session;
    ASSERT_TRUE(session.localTmux.has_value());
    EXPECT_EQ(session.localTmux->client.pid, client->pid());
    EXPECT_EQ(session.foreground.tty, session.localTmux->client.paneTTY);
    auto prefix = "tmux $0/@0/" + session.localTmux->client.paneID + " · SSH tarpelix-test → root@127.0.0.1:" +
                  std::to_string(server.port()) + " · PID ";
    EXPECT_EQ(resolution->status().substr(0, prefix.size()), prefix);
    EXPECT_NO_THROW(SSHSessionResolver().revalidate(session, nullptr));

    // The client enters copy mode: typed input would go astray now.
    tmux.tmux({"copy-mode", "-t", "main"});
    EXPECT_EQ(failureOf([&] { SSHSessionResolver().revalidate(session, nullptr); }),
              "tmux copy/command key mode, synchronized input, or unsupported client mode — skip paste");
    auto passthrough = resolvedAs<SessionResolution::Passthrough>(client->tty());
    ASSERT_TRUE(passthrough.has_value());
    EXPECT_EQ(passthrough->status(), "tmux input mode — normal paste");

    tmux.tmux({"set-window-option", "-t", "main", "synchronize-panes", "on"});
    auto refused = resolvedAs<SessionResolution::Unresolved>(client->tty());
    ASSERT_TRUE(refused.has_value());
    EXPECT_EQ(refused->status(), "Unresolved: tmux synchronized input or unsupported client mode — skip paste");
}

TEST_F(Resolution, LocalShellsApplicationsAndNestedTmux) {
    PseudoTerminal bash(interactiveBash());
    auto direct = resolvedAs<SessionResolution::LocalShell>(bash.tty());
    ASSERT_TRUE(direct.has_value());
    EXPECT_EQ(direct->status(), "Local shell · PID " + std::to_string(bash.pid()) + " — no remote destination");

    bash.type("sleep 1000\n");
    auto application = resolvedAs<SessionResolution::LocalApplication>(bash.tty());
    ASSERT_TRUE(application.has_value());
    EXPECT_EQ(application->status(), "Local application — normal paste");
    const auto& local = application->as<SessionResolution::LocalApplication>()->session;
    EXPECT_NO_THROW(SSHSessionResolver().revalidate(local, nullptr));
    bash.type("\x03");
    bash.type("sleep 1001\n");
    ASSERT_TRUE(waitUntil([&] {
        return failureOf([&] { SSHSessionResolver().revalidate(local, nullptr); }) ==
               "Local foreground processes exited, changed, or were replaced";
    }));

    TmuxServer tmux("default");
    auto client = tmux.attach();
    auto inTmux = resolvedAs<SessionResolution::LocalShell>(client->tty());
    ASSERT_TRUE(inTmux.has_value());
    const auto& shell = *inTmux->as<SessionResolution::LocalShell>();
    ASSERT_TRUE(shell.localTmux.has_value());
    EXPECT_EQ(inTmux->status(), "Local shell · PID " + std::to_string(shell.process.identity.pid) + " · tmux " +
                                    shell.localTmux->client.paneID + " — no remote destination");

    TmuxServer inner("inner");
    tmux.tmux({"send-keys", "-t", "main", "TERM=xterm-256color /usr/bin/tmux -S " + inner.socket() + " attach", "Enter"});
    auto nested = resolvedAs<SessionResolution::Unsupported>(client->tty());
    ASSERT_TRUE(nested.has_value());
    EXPECT_EQ(nested->status(), "Unsupported: Nested local tmux is unsupported");
}

TEST_F(Resolution, AMoshClientResolvesToItsEmbeddedDestination) {
    TemporaryDirectory programs;
    auto moshClient = installFakeProgram(programs.path(), "mosh-client");
    PseudoTerminal mosh(program(moshClient, {"mosh-client", "-# user@host |", "127.0.0.1", "60001"}));
    ASSERT_TRUE(mosh.waitForOutput("ready"));
    auto resolution = resolvedAs<SessionResolution::SSH>(mosh.tty());
    ASSERT_TRUE(resolution.has_value());
    EXPECT_EQ(resolution->status(),
              "Mosh user@host → user@host:22 · PID " + std::to_string(mosh.pid()) + " · " + mosh.tty());
}

TEST_F(Resolution, AnEndedOperationResolvesToItsOwnReasonWithoutReadingAnything) {
    auto table = std::make_shared<InterposedTable>();
    bool listed = false;
    table->listing = [&](dev_t) -> std::vector<platform::ProcessTableEntry> {
        listed = true;
        return {};
    };
    SSHSessionResolver resolver{ProcessInspector(table)};
    auto operation = PasteOperation::create();
    operation->cancel("Paste cancelled — focus or input changed");
    EXPECT_EQ(resolver.resolve("/dev/pts/0", operation).status(), "Unresolved: Paste cancelled — focus or input changed");
    auto expired = PasteOperation::create(PasteOperation::newDeadline(),
                                          [] { return PasteOperation::newDeadline().advanced(1); });
    EXPECT_EQ(resolver.resolve("/dev/pts/0", expired).status(), "Unresolved: Paste timed out — paste again");
    EXPECT_FALSE(listed);
    EXPECT_EQ(resolver.resolve("/dev/pts/x", nullptr).status(), "Unresolved: Unsupported terminal TTY");
}

TEST_F(Resolution, AnyOtherFailureIsUnresolvedWithItsText) {
    PseudoTerminal bash(interactiveBash());
    auto table = std::make_shared<InterposedTable>();
    SSHSessionResolver resolver{ProcessInspector(table)};
    table->listing = [](dev_t) -> std::vector<platform::ProcessTableEntry> {
        throw std::runtime_error("process table unavailable");
    };
    EXPECT_EQ(resolver.resolve(bash.tty(), nullptr).status(), "Unresolved: process table unavailable");
    table->listing = [](dev_t) -> std::vector<platform::ProcessTableEntry> { throw std::bad_alloc(); };
    EXPECT_EQ(resolver.resolve(bash.tty(), nullptr).status(), "Unresolved: std::bad_alloc");
}
