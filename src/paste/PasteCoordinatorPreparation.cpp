// The paste queue's part of the preparation: where the paste goes, the clipboard image as
// PNG for a remote destination, the transfer record, and a re-check of local destinations
// before they get an ordinary paste. The result goes back to the main thread's decision.

#include "diagnostics/DiagnosticStore.h"
#include "paste/ClipboardImage.h"
#include "paste/PasteCoordinator.h"
#include "paste/PasteTransfer.h"
#include "platform/desktop/Pasteboard.h"
#include "platform/desktop/Workspace.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/process/PathComponents.h"
#include "session/LocalTmuxResolver.h"
#include "model/TerminalUnavailable.h"

namespace tarpelix {

using platform::MonotonicInstant;

namespace {

const std::string tmuxModeChanged = "tmux mode changed — paste cancelled";
const std::string localSessionChanged = "Local session changed — paste cancelled";

// The destination as the feedback shows it: the port only when it is not 22.
std::string destinationText(const SSHConfiguration& configuration) {
    auto text = configuration.user + "@" + configuration.hostname;
    if (configuration.port != 22) text += ":" + std::to_string(configuration.port);
    return text;
}

std::string destinationIdentity(const SSHConfiguration& configuration) {
    return configuration.user + "@" + configuration.hostname + ":" + std::to_string(configuration.port);
}

// Throws when a destination that may get an ordinary paste is no longer what was resolved.
void revalidateLocal(const SessionResolution& resolution, const SSHSessionResolver& resolver,
                     const std::string& terminalTTY, const std::shared_ptr<PasteOperation>& operation) {
    LocalTmuxResolver tmux{resolver.inspector};
    if (auto* passthrough = resolution.as<SessionResolution::Passthrough>()) {
        const auto& old = passthrough->target;
        auto fresh = tmux.resolve(old.terminalTTY, old.process, false, operation);
        if (!fresh.matches(old) || fresh.client != old.client) throw TerminalUnavailable(tmuxModeChanged);
    } else if (auto* shell = resolution.as<SessionResolution::LocalShell>()) {
        if (shell->localTmux) tmux.revalidate(*shell->localTmux, operation);
        auto snapshot = resolver.inspector.snapshot(shell->localTmux ? shell->localTmux->client.paneTTY : terminalTTY);
        auto classified = SSHSessionResolver::classify(snapshot);
        auto* still = classified.as<ForegroundSession::LocalShell>();
        if (!still || still->process != shell->process) throw TerminalUnavailable(localSessionChanged);
    } else if (auto* application = resolution.as<SessionResolution::LocalApplication>()) {
        if (application->localTmux) tmux.revalidate(*application->localTmux, operation);
        resolver.revalidate(application->session, operation);
    }
}

} // namespace

void PasteCoordinator::prepareInBackground(const Road& road) {
    std::weak_ptr<PasteCoordinator> weak = weak_from_this();
    // The queue works with its own references, never with the coordinator itself, so that
    // the coordinator is only ever used, and released, on the main thread.
    worker_->async([weak, road, resolver = resolver_, storage = storage_, diagnostics = diagnostics_] {
        const auto& operation = road.operation;
        Preparation preparation;
        auto append = [&](DiagnosticTransport transport, DiagnosticStage stage, TransferOutcome outcome,
                          std::optional<TransferFailureCategory> category, MonotonicInstant since,
                          std::optional<std::int64_t> bytes) {
            if (diagnostics) {
                diagnostics->append(DiagnosticEvent{platform::Date::now(), road.id, road.terminal, transport, stage,
                                                    outcome, category, PasteTransfer::elapsedMilliseconds(since),
                                                    bytes});
            }
        };
        // Where a failure is counted: the first check, the image, or the rest.
        preparation.stage = DiagnosticStage::capture;
        preparation.measuredFrom = road.captureStarted;
        std::optional<platform::Bytes> png;
        std::optional<SessionResolution> resolution;
        try {
            operation->check();
            preparation.stage = DiagnosticStage::resolution;
            preparation.measuredFrom = MonotonicInstant::now();
            resolution = resolver.resolve(road.target.tty, operation);
            if (auto* ssh = resolution->as<SessionResolution::SSH>()) {
                preparation.stage = DiagnosticStage::capture;
                preparation.measuredFrom = MonotonicInstant::now();
                auto image = platform::DispatchQueue::main()->sync([&]() -> std::optional<ClipboardImage> {
                    operation->check();
                    auto self = weak.lock();
                    auto& general = platform::Pasteboard::general();
                    if (!self || !self->stillCurrent(road.gesture) ||
                        general.changeCount() != road.clipboardChangeCount) {
                        throw ClipboardImage::changed;
                    }
                    self->beginFeedback(operation, rawValue(road.terminal));
                    return ClipboardImage::capture(general);
                });
                if (image) {
                    png = image->pngData(ClipboardImage::byteLimit);
                    operation->check();
                    append(DiagnosticTransport::unknown, DiagnosticStage::capture, TransferOutcome::succeeded,
                           std::nullopt, preparation.measuredFrom, static_cast<std::int64_t>(png->size()));
                    const auto& session = ssh->session;
                    const bool mosh =
                        platform::lastPathComponent(session.foreground.process.executable) == "mosh-client";
                    const std::string transport = mosh ? "mosh" : "ssh";
                    const auto destination = destinationText(session.configuration);
                    platform::DispatchQueue::main()->async([weak, id = road.id, transport, destination] {
                        auto self = weak.lock();
                        if (!self) return;
                        if (self->attemptContext_ && self->attemptContext_->id == id) {
                            self->attemptContext_->transport = transport;
                        }
                        self->feedback_.advance(id, PasteFeedback::Stage::resolving, destination);
                    });
                    preparation.transport = mosh ? DiagnosticTransport::mosh : DiagnosticTransport::ssh;
                    preparation.byteCount = static_cast<std::int64_t>(png->size());
                    preparation.transfer =
                        std::make_shared<PasteTransfer>(operation, *png, road.bundleID, transport,
                                                        destinationIdentity(session.configuration), storage,
                                                        diagnostics);
                    preparation.stage = DiagnosticStage::resolution;
                }
            }
            operation->check();
            revalidateLocal(*resolution, resolver, road.target.tty, operation);
            const bool unavailable = resolution->as<SessionResolution::Unsupported>() ||
                                     resolution->as<SessionResolution::Unresolved>();
            preparation.loggedOutcome = unavailable ? TransferOutcome::failed : TransferOutcome::succeeded;
            append(preparation.transport, preparation.stage, preparation.loggedOutcome,
                   unavailable ? std::optional(TransferFailureCategory::unavailable) : std::nullopt,
                   preparation.measuredFrom, preparation.byteCount);
            preparation.result = Preparation::Prepared{std::move(png), std::move(*resolution)};
        } catch (...) {
            const bool cancelled = operation->isCancelled();
            preparation.loggedOutcome = cancelled ? TransferOutcome::cancelled : TransferOutcome::failed;
            append(preparation.transport, preparation.stage, preparation.loggedOutcome,
                   cancelled ? TransferFailureCategory::cancellation : TransferFailureCategory::unavailable,
                   preparation.measuredFrom, preparation.byteCount);
            preparation.result = std::current_exception();
        }
        if (preparation.transfer) preparation.transferWarning = preparation.transfer->storageWarning();
        platform::DispatchQueue::main()->async([weak, road, preparation = std::move(preparation)]() mutable {
            if (auto self = weak.lock()) self->decide(road, std::move(preparation));
        });
    });
}

} // namespace tarpelix
