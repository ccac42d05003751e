#pragma once

#include "diagnostics/DiagnosticEvent.h"
#include "paste/PasteEventTap.h"
#include "paste/PasteGesture.h"
#include "paste/PastePermissionGate.h"
#include "model/PasteFeedbackState.h"
#include "model/PasteOperation.h"
#include "model/TransferOutcome.h"
#include "platform/desktop/Accessibility.h"
#include "platform/desktop/WorkspaceNotifications.h"
#include "platform/foundation/Bytes.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/Uuid.h"
#include "session/SSHSessionResolver.h"
#include "storage/StorageError.h"
#include "terminal/TerminalAdapter.h"
#include "terminal/TerminalTarget.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tarpelix {

namespace platform {
class DispatchQueue;
class RunLoopTimer;
} // namespace platform

class DiagnosticStore;
class PasteTransfer;
class TransferStorage;

// The one long-lived object of the paste pipeline. It arms the Control+V tap for the focused
// text area of a supported terminal while every permission is granted, receives each held
// Control+V, runs one paste at a time through its stages (capture, resolution on the paste
// queue, upload, insertion) and publishes its feedback; it pauses, drains and resumes for a
// clear of local data, a quit or an update. Main thread only, except the work it gives to
// its paste queue "com.tarpelix.paste".
class PasteCoordinator final : public std::enable_shared_from_this<PasteCoordinator> {
public:
    // Uploads one PNG to the session's host and returns the remote path; calls the
    // confirmation as soon as the remote side has the file.
    using UploadTransport = std::function<std::string(
        const platform::Bytes& png, const SSHSession& session, double deadline,
        const std::shared_ptr<PasteOperation>& operation, const platform::Uuid& id,
        const std::function<void(const std::string&)>& confirmedUpload)>;
    // Types the text into the target through the adapter; `beforeInsertion` is the last check.
    using Insertion = std::function<void(const std::string& text, TerminalAdapter& adapter,
                                         const TerminalTarget& target,
                                         const std::function<void()>& beforeInsertion)>;
    // Reads one attribute of an element: its value, or none on any error.
    using AttributeRead =
        std::function<std::optional<platform::AXValue>(const platform::AXUIElementRef&, const std::string&)>;

    // A window's frame in Accessibility screen coordinates.
    struct Rect {
        platform::AXPoint origin;
        platform::AXSize size;
        bool operator==(const Rect&) const = default;
    };

    // What the coordinator is built with; unset members take their defaults (a new slot, a
    // new permission gate, the ssh upload, the adapter's insertion, a resolver reading the
    // system's process table, the 30-second operation). Storage and diagnostics have no
    // default: without them nothing is stored or logged.
    struct Dependencies {
        std::shared_ptr<PasteOperationState> operations{};
        std::shared_ptr<TransferStorage> storage{};
        std::shared_ptr<DiagnosticStore> diagnostics{};
        std::shared_ptr<PastePermissionGate> permissionGate{};
        UploadTransport uploadTransport{};
        Insertion insertion{};
        SSHSessionResolver resolver = SSHSessionResolver{ProcessInspector()};
        // Seconds from the key press to the deadline of the operation and of its upload.
        double operationTimeout = PasteOperation::timeout;
    };

    static inline const std::string queueLabel = "com.tarpelix.paste";
    static constexpr double permissionPollInterval = 1.0;
    static constexpr double messagingTimeout = 0.2;

    static std::shared_ptr<PasteCoordinator> create(Dependencies dependencies);
    static std::shared_ptr<PasteCoordinator> create() { return create(Dependencies{}); }
    // Removes its observers, stops its timer and its tap thread.
    ~PasteCoordinator();
    PasteCoordinator(const PasteCoordinator&) = delete;
    PasteCoordinator& operator=(const PasteCoordinator&) = delete;

    // Callbacks set by the application before start(); each is called on the main thread.
    std::function<bool()> clipboardPermissionReady;
    std::function<void()> reportPermissionReadiness = [] {};
    std::function<void(const std::string&)> report = [](const std::string&) {};
    // The two progress messages `report` carries while an upload works.
    static inline const std::string uploadingReport = "Uploading…";
    static inline const std::string insertedReport = "Image path inserted";
    std::function<void(const PasteFeedback&)> reportFeedback = [](const PasteFeedback&) {};
    std::function<void(const platform::Uuid&, const std::optional<Rect>&)> reportFeedbackOrigin =
        [](const platform::Uuid&, const std::optional<Rect>&) {};
    std::function<void(const std::optional<StorageError>&)> reportStorageWarning =
        [](const std::optional<StorageError>&) {};

    // Wires the tap, the workspace observers and the 1-second poll, then setEnabled(enabled).
    void start(bool enabled);
    void setEnabled(bool value);
    void refreshPermissions();
    void permissionsDidChange();
    // The one-line permission status; none when nothing is missing.
    std::optional<std::string> permissionStatus() const;
    bool isBusy() const;
    bool isShuttingDown() const { return isShuttingDown_; }
    bool beginLocalDataClear();
    void endLocalDataClear();
    // Stops accepting pastes, cancels the one in flight; the completion runs on the main
    // queue once the pipeline is idle.
    void shutdown(std::function<void()> completion);
    bool resumeAfterShutdown(bool enabled);
    PasteFeedbackState& feedback() { return feedback_; }

    // The frame of the window holding the focus, for placing the overlay; none unless it is
    // a real frame.
    static std::optional<Rect> feedbackWindowFrame(const platform::AXUIElementRef& focus,
                                                   const AttributeRead& read = defaultAttributeRead);
    static std::optional<platform::AXValue> defaultAttributeRead(const platform::AXUIElementRef& element,
                                                                 const std::string& attribute);

    // Starts the visible feedback and the latest attempt of the current operation.
    void beginFeedback(const std::shared_ptr<PasteOperation>& operation, const std::string& terminal);

private:
    explicit PasteCoordinator(Dependencies dependencies);

    struct AttemptContext {
        platform::Uuid id;
        platform::Date createdAt;
        std::string terminal;
        std::string transport;
    };

    // What one paste carries from the key press to its end.
    struct Road {
        std::shared_ptr<PasteOperation> operation;
        PasteGesture gesture;
        platform::AXUIElementRef focus;
        std::shared_ptr<TerminalAdapter> adapter;
        TerminalTarget target;
        long clipboardChangeCount = 0;
        double deadline = 0; // seconds of system uptime
        platform::Uuid id;
        DiagnosticTerminal terminal = DiagnosticTerminal::unknown;
        std::optional<std::string> bundleID;
        platform::MonotonicInstant captureStarted;
    };

    // What the paste queue hands back to the main thread's decision.
    struct Preparation {
        struct Prepared {
            std::optional<platform::Bytes> png;
            SessionResolution resolution;
        };
        std::shared_ptr<PasteTransfer> transfer;
        std::optional<StorageError> transferWarning;
        std::variant<std::exception_ptr, Prepared> result;
        // The last event logged on the paste queue, against which a closing event is compared.
        DiagnosticStage stage = DiagnosticStage::capture;
        TransferOutcome loggedOutcome = TransferOutcome::succeeded;
        DiagnosticTransport transport = DiagnosticTransport::unknown;
        platform::MonotonicInstant measuredFrom;
        std::optional<std::int64_t> byteCount;
    };

    // Arming and lifecycle.
    void updateFocus();
    void refreshInputGate();
    static void focusChanged(platform::AXObserver& observer, const platform::AXUIElementRef& element,
                             const std::string& notification, void* context);
    void removeFocusObserver();
    void completeShutdown();
    void publish(const PasteFeedback& feedback);
    void persistFeedback(const PasteFeedback& feedback);
    bool isSupported(const std::optional<platform::RunningApplication>& application) const;

    // Receiving a paste.
    void receive(const PasteGesture& gesture);
    void failReceive(const PasteGesture& gesture, const platform::Uuid& id, DiagnosticTerminal terminal,
                     platform::MonotonicInstant captureStarted, const std::string& description);
    void prepare(Road road);
    void failPreparation(const Road& road, const std::string& description);
    platform::AXUIElementRef focusedElement(std::int32_t pid) const;
    bool isTerminalContent(const platform::AXUIElementRef& element, const std::optional<std::string>& bundleID) const;
    // Not shutting down, the gesture current and its process frontmost.
    bool stillCurrent(const PasteGesture& gesture);

    // The paste queue's preparation, the decision, the upload and the insertion.
    void prepareInBackground(const Road& road);
    void decide(const Road& road, Preparation preparation);
    void handBack(const Road& road, const Preparation& preparation, bool localGroup);
    void errorExit(const Road& road, const Preparation& preparation, const std::string& description);
    void closeRoad(const Road& road, const Preparation& preparation, std::optional<TransferOutcome> eventOutcome);
    void upload(const Road& road, const platform::Bytes& png, const SSHSession& session,
                std::shared_ptr<PasteTransfer> transfer);
    void insertPath(const Road& road, const std::shared_ptr<PasteTransfer>& transfer,
                    const std::variant<std::string, std::exception_ptr>& uploaded,
                    const std::optional<StorageError>& warning);
    void completeTransfer(const std::shared_ptr<PasteTransfer>& transfer,
                          const std::shared_ptr<PasteOperation>& operation, TransferOutcome outcome);
    void finish(const std::shared_ptr<PasteOperation>& operation);
    void release(const std::shared_ptr<PasteOperation>& operation);
    void appendDiagnostic(const DiagnosticEvent& event) const;

    // Fields, in the order of the description.
    std::shared_ptr<PasteEventTap> eventTap_;
    std::shared_ptr<PastePermissionGate> permissionGate_;
    std::shared_ptr<platform::RunLoopTimer> permissionTimer_;
    std::optional<std::string> lastPermissionStatus_;
    PasteFeedbackState feedback_;
    std::shared_ptr<TransferStorage> storage_;
    std::shared_ptr<DiagnosticStore> diagnostics_;
    UploadTransport uploadTransport_;
    Insertion insertion_;
    std::map<std::string, std::shared_ptr<TerminalAdapter>> adapters_;
    SSHSessionResolver resolver_;
    std::shared_ptr<platform::DispatchQueue> worker_;
    std::shared_ptr<PasteOperationState> operations_;
    std::optional<AttemptContext> attemptContext_;
    std::optional<platform::Uuid> finishingOperationID_;
    bool clearingLocalData_ = false;
    bool isShuttingDown_ = false;
    std::vector<std::function<void()>> shutdownCompletions_;
    std::shared_ptr<platform::AXObserver> focusObserver_;
    std::int32_t observedPID_ = 0;
    platform::WorkspaceObserver activationObserver_;
    std::vector<platform::WorkspaceObserver> powerObservers_;
    bool enabled_ = false;
    const double operationTimeout_;
};

} // namespace tarpelix
