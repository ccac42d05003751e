#include "ssh/SSHTransport.h"

#include "platform/foundation/Clock.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Text.h"
#include "platform/process/ChildProcess.h"
#include "ssh/OperationCheck.h"
#include "ssh/SSHConnectionReuse.h"
#include "model/RemoteImagePath.h"
#include "model/TerminalUnavailable.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

extern char** environ;

namespace tarpelix {

namespace {

constexpr std::size_t readBufferSize = 16384;
constexpr std::size_t writeChunk = 65536;
constexpr std::size_t pipeCapacity = 1 << 20;
constexpr std::size_t streamLimit = 65536;
constexpr std::size_t detailLimit = 400;
const std::string markerStart = "TARPELIX_UPLOAD_";

[[noreturn]] void fail(const std::string& reason) { throw TerminalUnavailable(reason); }


// The bundled script, read once: its text, or the failure every upload then reports.
struct UploadScript {
    std::string text;
    std::exception_ptr failure;
};

const UploadScript& uploadScript() {
    static const UploadScript script = [] {
        UploadScript result;
        auto found = platform::Bundle::urlForResource("upload", "sh");
        if (!found) {
            result.failure = std::make_exception_ptr(TerminalUnavailable("Bundled upload script is missing"));
            return result;
        }
        const std::string& path = *found;
        std::ifstream in(path, std::ios::binary);
        std::ostringstream content;
        content << in.rdbuf();
        if (!in.good() && !in.eof()) {
            result.failure = std::make_exception_ptr(
                std::system_error(errno ? errno : EIO, std::generic_category(), "Cannot read " + path));
        } else if (!platform::text::isValidUTF8(content.str())) {
            result.failure =
                std::make_exception_ptr(std::system_error(EILSEQ, std::generic_category(), "Cannot read " + path));
        } else {
            result.text = content.str();
        }
        return result;
    }();
    return script;
}

std::vector<std::string> uploadEnvironment() {
    std::vector<std::string> environment;
    for (char** entry = environ; entry && *entry; ++entry) {
        std::string_view text(*entry);
        if (text.substr(0, 20) != "SSH_ASKPASS_REQUIRE=") environment.emplace_back(text);
    }
    environment.emplace_back("SSH_ASKPASS_REQUIRE=never");
    return environment;
}

// The first bytes of the error stream as one line: invalid UTF-8 replaced, every control
// character (newline, carriage return, tab and the like) turned into a blank.
std::string detailOf(const platform::Bytes& error) {
    auto length = static_cast<std::int32_t>(std::min(error.size(), detailLimit));
    std::string detail;
    std::int32_t index = 0;
    while (index < length) {
        UChar32 c;
        U8_NEXT(error.data(), index, length, c);
        if (c < 0) c = 0xFFFD;
        if (U_GET_GC_MASK(c) & (U_GC_CC_MASK | U_GC_CF_MASK)) c = ' ';
        std::uint8_t buffer[4];
        std::int32_t size = 0;
        U8_APPEND_UNSAFE(buffer, size, c);
        detail.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(size));
    }
    return detail;
}

} // namespace

void SSHTransport::checkDeadline(double deadline) {
    if (platform::systemUptime() >= deadline) throw TerminalUnavailable(timedOutReason);
}

void SSHTransport::terminateRequest(platform::ChildProcess& process) { process.killAndReap(); }

std::string SSHTransport::shellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

std::vector<std::string> SSHTransport::arguments(const SSHDestination& destination, const std::string& script,
                                                 const platform::Uuid& id,
                                                 const std::vector<std::string>& connectionOptions,
                                                 std::optional<std::size_t> expectedBytes) {
    static const char* const fixedOptions[] = {
        "BatchMode=yes",       "StrictHostKeyChecking=yes", "ConnectionAttempts=1", "ConnectTimeout=10",
        "ClearAllForwardings=yes", "ForwardAgent=no",       "ForwardX11=no",        "Tunnel=no",
        "PermitLocalCommand=no", "RemoteCommand=none",      "RequestTTY=no",        "SessionType=default",
        "StdinNull=no",        "ForkAfterAuthentication=no", "LogLevel=ERROR",
    };
    std::vector<std::string> result = {"-T"};
    for (const char* option : fixedOptions) {
        result.emplace_back("-o");
        result.emplace_back(option);
    }
    for (const auto& option : connectionOptions) {
        result.emplace_back("-o");
        result.push_back(option);
    }
    result.push_back(destination.original);
    std::string command = "sh -c " + shellQuote(script) + " tarpelix " + shellQuote(id.uuidString());
    if (expectedBytes) command += " " + std::to_string(*expectedBytes);
    result.push_back(std::move(command));
    return result;
}

platform::Bytes SSHTransport::run(platform::ChildProcess& process, const platform::Bytes& input, double deadline,
                                  const std::shared_ptr<PasteOperation>& operation,
                                  const std::function<void(const platform::Bytes&)>& onSuccessfulExit) {
    checkOperation(operation);
    checkDeadline(deadline);

    auto in = platform::Pipe::create();
    // A pipe as large as the image (up to the system's 1 MiB default maximum) lets the writes
    // run ahead of ssh instead of waking for every 64 KiB it reads; the default size stays
    // when the system refuses.
    ::fcntl(in.writeEnd.get(), F_SETPIPE_SZ, static_cast<int>(std::min<std::size_t>(input.size(), pipeCapacity)));
    auto out = platform::Pipe::create();
    auto err = platform::Pipe::create();
    process.standardInput = platform::ChildProcess::Stream::descriptor(in.readEnd.get());
    process.standardOutput = platform::ChildProcess::Stream::descriptor(out.writeEnd.get());
    process.standardError = platform::ChildProcess::Stream::descriptor(err.writeEnd.get());
    process.launch();
    in.readEnd.reset();
    out.writeEnd.reset();
    err.writeEnd.reset();

    try {
        if (!platform::setNonBlocking(in.writeEnd.get()) || !platform::setNonBlocking(out.readEnd.get()) ||
            !platform::setNonBlocking(err.readEnd.get()))
            fail("Cannot configure SSH pipes");
        // Writing after the child has gone returns EPIPE: SIGPIPE is ignored process-wide.

        std::size_t written = 0;
        bool outputEnded = false, errorEnded = false, reported = false;
        platform::Bytes output, error;
        std::vector<std::uint8_t> buffer(readBufferSize);

        auto drain = [&](const platform::UniqueFd& fd, bool& ended, platform::Bytes& data) {
            while (!ended) {
                ssize_t n = ::read(fd.get(), buffer.data(), buffer.size());
                if (n > 0) {
                    if (data.size() + static_cast<std::size_t>(n) > streamLimit) fail("SSH response exceeded size limit");
                    data.insert(data.end(), buffer.begin(), buffer.begin() + n);
                } else if (n == 0) {
                    ended = true;
                } else if (errno == EAGAIN || errno == EINTR) {
                    return;
                } else {
                    fail("Cannot read SSH response");
                }
            }
        };
        auto closeInput = [&] { in.writeEnd.reset(); };

        while (true) {
            drain(out.readEnd, outputEnded, output);
            drain(err.readEnd, errorEnded, error);
            bool running = process.isRunning();
            if (!running && outputEnded && process.exitedWithStatusZero() && written == input.size() && !reported) {
                reported = true;
                if (onSuccessfulExit) onSuccessfulExit(output);
            }
            if (!running && outputEnded && errorEnded) break;
            checkOperation(operation);
            checkDeadline(deadline);
            if (!process.isRunning() && !process.exitedWithStatusZero()) break;
            if (in.writeEnd) {
                if (written < input.size()) {
                    std::size_t chunk = std::min(writeChunk, input.size() - written);
                    ssize_t n = ::write(in.writeEnd.get(), input.data() + written, chunk);
                    if (n > 0)
                        written += static_cast<std::size_t>(n);
                    else if (n < 0 && errno != EAGAIN && errno != EINTR)
                        closeInput(); // EPIPE: the remote side stopped reading
                }
                if (written == input.size()) closeInput();
            }
            pollfd waits[3];
            nfds_t count = 0;
            if (!outputEnded) waits[count++] = {out.readEnd.get(), POLLIN, 0};
            if (!errorEnded) waits[count++] = {err.readEnd.get(), POLLIN, 0};
            if (in.writeEnd) waits[count++] = {in.writeEnd.get(), POLLOUT, 0};
            // Wakes for a stream or the child's end; the cap keeps cancellation and the
            // deadline checked every 10 ms.
            process.awaitActivity({waits, count}, std::chrono::milliseconds(10));
            if (!process.isRunning() && outputEnded && errorEnded) break;
        }

        if (process.exitedWithStatusZero()) {
            if (written != input.size()) fail("SSH closed before receiving the complete image");
            if (!reported && onSuccessfulExit) onSuccessfulExit(output);
            checkOperation(operation);
            checkDeadline(deadline);
            process.waitUntilExit(); // reaped, and nothing of its group is signalled
            return output;
        }
        // What the child wrote before it ended is in the pipe even when the loop left before
        // reading it: take it, or the reason (and the advice chosen from its words) is lost.
        drain(err.readEnd, errorEnded, error);
        std::string reason = "SSH upload failed (" + std::to_string(process.terminationStatus()) + ")";
        auto detail = detailOf(error);
        if (!detail.empty()) reason += ": " + detail;
        fail(reason);
    } catch (...) {
        in.writeEnd.reset();
        terminateRequest(process);
        throw;
    }
}

std::string SSHTransport::completedPath(const platform::Bytes& output, const platform::Uuid& id) {
    const std::string uuid = id.uuidString();
    const std::string prefix = markerStart + uuid + "=";
    std::string_view text(reinterpret_cast<const char*>(output.data()), output.size());
    if (!platform::text::isValidUTF8(text)) fail("Invalid upload response encoding");

    std::vector<std::string_view> markers;
    for (auto line : platform::text::split(text, '\n'))
        if (line.starts_with(markerStart)) markers.push_back(line);
    if (markers.size() != 1 || markers[0].substr(0, prefix.size()) != prefix || text.empty() || text.back() != '\n')
        fail("Missing or ambiguous upload completion marker");

    std::string path(markers[0].substr(prefix.size()));
    if (auto fault = remoteImagePathFault(path, id))
        fail(*fault == RemoteImagePathFault::image ? "Unsupported remote image path" : "Unsupported remote home path");
    return path;
}

std::string SSHTransport::upload(const platform::Bytes& image, const SSHDestination& destination, double deadline,
                                 const std::shared_ptr<PasteOperation>& operation,
                                 const std::optional<SSHConfiguration>& configuration, platform::Uuid id,
                                 const std::function<void(const std::string&)>& confirmedUpload) const {
    checkOperation(operation);
    checkDeadline(deadline);
    if (image.empty()) fail("Empty image");
    const auto& script = uploadScript();
    if (script.failure) std::rethrow_exception(script.failure);

    platform::ChildProcess process;
    process.executable = "/usr/bin/ssh";
    auto effective = configuration ? *configuration
                                   : SSHConfigurationEvaluator().evaluate(destination, operation, std::nullopt, deadline);
    auto options = SSHConnectionReuse().options(destination, effective, deadline, operation);
    process.arguments = arguments(destination, script.text, id, options, image.size());
    process.environment = uploadEnvironment();

    auto output = run(process, image, deadline, operation, [&](const platform::Bytes& stdoutData) {
        std::string path;
        try {
            path = completedPath(stdoutData, id);
        } catch (const TerminalUnavailable&) {
            return;
        }
        if (confirmedUpload) confirmedUpload(path);
    });
    return completedPath(output, id);
}

} // namespace tarpelix
