// Session resolution and re-validation.
#include "session/SSHSessionResolver.h"

#include "platform/process/PathComponents.h"
#include "session/LocalTmuxResolver.h"
#include "ssh/OperationCheck.h"
#include "ssh/SSHConfiguration.h"
#include "ssh/SessionInspectionError.h"
#include "model/TerminalUnavailable.h"

#include <limits>
#include <exception>

namespace tarpelix {

SessionResolution SSHSessionResolver::resolve(const std::string& tty,
                                              const std::shared_ptr<PasteOperation>& operation) const {
    try {
        checkOperation(operation);
        const LocalTmuxResolver tmux{inspector};
        auto foreground = classify(inspector.snapshot(tty));
        std::optional<LocalTmuxTarget> route;

        if (auto client = foreground.as<ForegroundSession::LocalTmux>()) {
            auto target = tmux.resolve(tty, client->process, false, operation);
            try {
                target.client.requireOrdinaryInput();
            } catch (const SessionInspectionError&) {
                try {
                    target.client.requireReplayableInput();
                    return {SessionResolution::Passthrough{target}};
                } catch (const SessionInspectionError& error) {
                    return {SessionResolution::Unresolved{error.reason}};
                }
            }
            foreground = classify(inspector.snapshot(target.client.paneTTY));
            route = std::move(target);
        }

        if (auto ssh = foreground.as<ForegroundSession::SSH>()) {
            auto configuration = SSHConfigurationEvaluator().evaluate(ssh->process.destination, operation, ssh->process,
                                                                      std::numeric_limits<double>::infinity());
            SSHSession session(ssh->process, std::move(configuration), route);
            revalidate(session, operation);
            return {SessionResolution::SSH{std::move(session)}};
        }
        if (auto shell = foreground.as<ForegroundSession::LocalShell>()) {
            if (route) tmux.revalidate(*route, operation);
            return {SessionResolution::LocalShell{shell->process, route}};
        }
        if (auto local = foreground.as<ForegroundSession::LocalApplication>()) {
            if (route) tmux.revalidate(*route, operation);
            revalidate(local->session, operation);
            return {SessionResolution::LocalApplication{local->session, route}};
        }
        if (foreground.as<ForegroundSession::LocalTmux>()) return {SessionResolution::Unsupported{"Nested local tmux is unsupported"}};
        // The classification's own verdict, without the route.
        if (auto unsupported = foreground.as<UnsupportedVerdict>()) return {*unsupported};
        return {*foreground.as<UnresolvedVerdict>()};
    } catch (const SessionInspectionError& error) {
        return {SessionResolution::Unresolved{error.reason}};
    } catch (const TerminalUnavailable& error) {
        return {SessionResolution::Unresolved{error.reason}};
    } catch (const std::exception& error) {
        // A tmux or ssh child that could not be started, a socket directory that could not be
        // listed, memory or threads that ran out: whatever fails, the verdict carries its text.
        return {SessionResolution::Unresolved{error.what()}};
    }
}

void SSHSessionResolver::revalidate(const SSHSession& session, const std::shared_ptr<PasteOperation>& operation) const {
    checkOperation(operation);
    if (session.localTmux) LocalTmuxResolver{inspector}.revalidate(*session.localTmux, operation);
    if (!matches(session.foreground, inspector.snapshot(session.foreground.tty)))
        throw SessionInspectionError("Foreground SSH process exited, changed, or was replaced");
}

void SSHSessionResolver::revalidate(const LocalForegroundSession& session,
                                    const std::shared_ptr<PasteOperation>& operation) const {
    checkOperation(operation);
    if (!matches(session, inspector.snapshot(session.tty)))
        throw SessionInspectionError("Local foreground processes exited, changed, or were replaced");
}

std::string SessionResolution::status() const {
    if (as<Passthrough>()) return "tmux input mode — normal paste";
    if (auto ssh = as<SSH>()) {
        const auto& session = ssh->session;
        std::string text;
        if (session.localTmux) {
            const auto& client = session.localTmux->client;
            text = "tmux " + client.sessionID + "/" + client.windowID + "/" + client.paneID + " · ";
        }
        const auto& process = session.foreground.process;
        text += platform::lastPathComponent(process.executable) == "mosh-client" ? "Mosh" : "SSH";
        text += " " + session.foreground.destination.original + " → " + session.configuration.user + "@" +
                session.configuration.hostname + ":" + std::to_string(session.configuration.port) + " · PID " +
                std::to_string(process.identity.pid) + " · " + session.foreground.tty;
        return text;
    }
    if (auto shell = as<LocalShell>()) {
        std::string text = "Local shell · PID " + std::to_string(shell->process.identity.pid);
        if (shell->localTmux) text += " · tmux " + shell->localTmux->client.paneID;
        return text + " — no remote destination";
    }
    if (as<LocalApplication>()) return "Local application — normal paste";
    if (auto unsupported = as<Unsupported>()) return "Unsupported: " + unsupported->text;
    return "Unresolved: " + as<Unresolved>()->text;
}

} // namespace tarpelix
