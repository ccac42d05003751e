#include "terminal/GhosttyCompatibility.h"

#include "terminal/GhosttyAdapter.h"

#include <expat.h>

#include <cerrno>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace tarpelix {

using Status = GhosttyCompatibility::Status;

const std::string GhosttyCompatibility::bundleID = GhosttyAdapter::bundleID;

const std::string& GhosttyCompatibility::prereleaseURL() {
    static const std::string url = "https://ghostty.org/docs/install/pre-release";
    return url;
}

namespace {

// Collects which of the required scripting terms the dictionary declares.
struct DictionaryReader {
    std::set<std::string> required{
        "application/front window/GFWn/window", "window/id/ID  /text",           "window/selected tab/GWsT/tab",
        "tab/id/ID  /text",                     "tab/focused terminal/GTfT/terminal", "terminal/id/ID  /text",
        "terminal/tty/Gtty/text",               "input text/GhstInTx",          "input text/to/GItT/terminal",
    };
    bool isDictionary = false;
    std::optional<std::string> owner;

    static const char* attribute(const XML_Char** attributes, const char* name) {
        for (int i = 0; attributes[i]; i += 2) {
            if (std::string_view(attributes[i]) == name) return attributes[i + 1];
        }
        return nullptr;
    }

    static void start(void* context, const XML_Char* element, const XML_Char** attributes) {
        auto& reader = *static_cast<DictionaryReader*>(context);
        const std::string_view name(element);
        if (name == "dictionary") {
            reader.isDictionary = true;
        } else if (name == "class" || name == "command") {
            const char* ownerName = attribute(attributes, "name");
            reader.owner = ownerName ? ownerName : "";
            const char* code = attribute(attributes, "code");
            if (name == "command" && reader.owner && code) reader.required.erase(*reader.owner + "/" + code);
        } else if (name == "property" || name == "parameter") {
            const char* termName = attribute(attributes, "name");
            const char* code = attribute(attributes, "code");
            const char* type = attribute(attributes, "type");
            if (reader.owner && termName && code && type) {
                reader.required.erase(*reader.owner + "/" + termName + "/" + code + "/" + type);
            }
        }
    }

    static void end(void* context, const XML_Char* element) {
        auto& reader = *static_cast<DictionaryReader*>(context);
        const std::string_view name(element);
        if (name == "class" || name == "command") reader.owner.reset();
    }

    // External entities are never fetched: the reference is taken as empty.
    static int externalEntity(XML_Parser, const XML_Char*, const XML_Char*, const XML_Char*, const XML_Char*) {
        return XML_STATUS_OK;
    }
};

// The dictionary file's bytes, at most one byte past the limit so that a file that grew
// after its size was read is refused rather than read whole; nothing on failure.
std::optional<platform::Bytes> readBounded(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    platform::Bytes data(GhosttyCompatibility::dictionaryLimit + 1);
    std::size_t total = 0;
    while (total < data.size()) {
        ssize_t n = ::read(fd, data.data() + total, data.size() - total);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        total += static_cast<std::size_t>(n);
    }
    ::close(fd);
    data.resize(total);
    return data;
}


} // namespace

GhosttyCompatibility::GhosttyCompatibility()
    : queue_(platform::DispatchQueue::create("com.tarpelix.ghostty-compatibility", platform::QualityOfService::utility)),
      cached_(std::make_shared<std::optional<Cached>>()) {}

void GhosttyCompatibility::check(const std::string& applicationURL, std::function<void(Status)> completion) {
    queue_->async([cached = cached_, applicationURL, completion = std::move(completion)] {
        auto status = [&] {
            const std::string path = applicationURL + "/Contents/Resources/Ghostty.sdef";
            struct stat info {};
            if (::stat(path.c_str(), &info) != 0) return Status::updateRequired;
            if (!S_ISREG(info.st_mode) || static_cast<std::size_t>(info.st_size) > dictionaryLimit) {
                return Status::unavailable;
            }
            auto data = readBounded(path);
            if (!data || data->size() > dictionaryLimit) return Status::unavailable;
            if (*cached && (*cached)->url == applicationURL && (*cached)->data == *data) return (*cached)->status;
            auto result = inspect(*data);
            *cached = Cached{applicationURL, std::move(*data), result};
            return result;
        }();
        platform::DispatchQueue::main()->async([completion, status] { completion(status); });
    });
}

Status GhosttyCompatibility::inspect(const platform::Bytes& data) {
    DictionaryReader reader;
    XML_Parser parser = XML_ParserCreate(nullptr);
    if (!parser) return Status::unavailable;
    XML_SetUserData(parser, &reader);
    XML_SetElementHandler(parser, &DictionaryReader::start, &DictionaryReader::end);
    XML_SetParamEntityParsing(parser, XML_PARAM_ENTITY_PARSING_NEVER);
    XML_SetExternalEntityRefHandler(parser, &DictionaryReader::externalEntity);
    bool parsed = XML_Parse(parser, reinterpret_cast<const char*>(data.data()), static_cast<int>(data.size()), 1) ==
                  XML_STATUS_OK;
    XML_ParserFree(parser);
    if (!parsed || !reader.isDictionary) return Status::unavailable;
    return reader.required.empty() ? Status::supported : Status::updateRequired;
}

} // namespace tarpelix
