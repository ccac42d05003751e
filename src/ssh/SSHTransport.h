#pragma once

#include "model/PasteOperation.h"
#include "platform/foundation/Bytes.h"
#include "platform/foundation/Uuid.h"
#include "ssh/SSHConfiguration.h"
#include "ssh/SSHDestination.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarpelix::platform {
class ChildProcess;
}

namespace tarpelix {

// Carries one PNG image over ssh to the remote host of a session and returns the path the
// remote side stored it under. A structure without stored fields.
struct SSHTransport {
    // Seconds every paste operation may take, counted from the key press.
    static constexpr double operationTimeout = PasteOperation::timeout;

    static inline const char* const timedOutReason = "Upload timed out";

    // Runs the bundled upload script on the remote host with the image on its standard input
    // and returns the confirmed remote path. `confirmedUpload` is called at most once, before
    // this returns, with a path that passed validation, as soon as ssh has exited successfully
    // (even if the upload then fails late, which makes it the only news that the image arrived).
    std::string upload(const platform::Bytes& image, const SSHDestination& destination, double deadline,
                       const std::shared_ptr<PasteOperation>& operation,
                       const std::optional<SSHConfiguration>& configuration, platform::Uuid id = platform::Uuid::random(),
                       const std::function<void(const std::string&)>& confirmedUpload = {}) const;

    // The ssh arguments of an upload, without the program itself.
    static std::vector<std::string> arguments(const SSHDestination& destination, const std::string& script,
                                              const platform::Uuid& id,
                                              const std::vector<std::string>& connectionOptions = {"ControlMaster=no",
                                                                                                   "ControlPath=none"},
                                              std::optional<std::size_t> expectedBytes = std::nullopt);

    // Launches a configured child, feeds it `input` and collects its output, bounded by the
    // deadline, the operation and 64 KiB per stream. `onSuccessfulExit` gets the output as soon
    // as the child has exited with status 0 after taking all input and closing its output.
    static platform::Bytes run(platform::ChildProcess& process, const platform::Bytes& input, double deadline,
                               const std::shared_ptr<PasteOperation>& operation,
                               const std::function<void(const platform::Bytes&)>& onSuccessfulExit = {});

    // The remote path named by the one completion marker of this upload; throws otherwise.
    static std::string completedPath(const platform::Bytes& output, const platform::Uuid& id);

    // One single-quoted word for a POSIX shell, whatever the text holds.
    static std::string shellQuote(const std::string& text);

    // Throws TerminalUnavailable "Upload timed out" once the system uptime has reached the
    // deadline (seconds of uptime); a deadline of positive infinity never passes.
    static void checkDeadline(double deadline);

    // Ends a launched child for good: kills its process group (never our own) while the child
    // is still unreaped, so the group id cannot belong to anyone else yet, then kills the
    // child and waits for it. Never throws.
    static void terminateRequest(platform::ChildProcess& process);
};

} // namespace tarpelix
