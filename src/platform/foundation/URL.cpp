#include "platform/foundation/URL.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace tarpelix::platform {

namespace {

// Character classes of RFC 3986.
bool isAlpha(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isHex(char c) {
    return isDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}
bool isUnreserved(char c) {
    return isAlpha(c) || isDigit(c) || c == '-' || c == '.' || c == '_' || c == '~';
}
bool isSubDelimiter(char c) {
    return std::string_view("!$&'()*+,;=").find(c) != std::string_view::npos;
}

bool isUserInfoCharacter(char c) {
    return isUnreserved(c) || isSubDelimiter(c) || c == ':';
}
bool isHostCharacter(char c) {
    return isUnreserved(c) || isSubDelimiter(c);
}
bool isPathCharacter(char c) {
    return isUnreserved(c) || isSubDelimiter(c) || c == ':' || c == '@' || c == '/';
}
bool isQueryCharacter(char c) {
    return isPathCharacter(c) || c == '?';
}
// What a query item's name or value keeps literally: the query's characters except the
// separators "&" and "=", and "+", which form decoding reads as a space.
bool isQueryItemCharacter(char c) {
    return isQueryCharacter(c) && c != '&' && c != '=' && c != '+';
}

// True when every character is allowed or part of a valid percent escape.
template <typename Allowed> bool isEncoded(std::string_view text, Allowed allowed) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%') {
            if (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2])) return false;
            i += 2;
        } else if (!allowed(text[i])) {
            return false;
        }
    }
    return true;
}

template <typename Allowed> std::string encode(std::string_view text, Allowed allowed) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string result;
    for (char c : text) {
        if (allowed(c)) {
            result += c;
        } else {
            auto byte = static_cast<unsigned char>(c);
            result += '%';
            result += digits[byte >> 4];
            result += digits[byte & 0xF];
        }
    }
    return result;
}

int hexValue(char c) {
    return isDigit(c) ? c - '0' : (c | 0x20) - 'a' + 10;
}

// Decodes percent escapes; the text was validated when the URL was made.
std::string decode(std::string_view text) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && isHex(text[i + 1]) && isHex(text[i + 2])) {
            result += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            result += text[i];
        }
    }
    return result;
}

// RFC 3986 section 5.2.4: "." and ".." segments removed from an absolute path.
std::string removeDotSegments(std::string_view input) {
    std::string output;
    while (!input.empty()) {
        if (input.starts_with("../")) {
            input.remove_prefix(3);
        } else if (input.starts_with("./")) {
            input.remove_prefix(2);
        } else if (input.starts_with("/./")) {
            input.remove_prefix(2);
        } else if (input == "/.") {
            input = "/";
        } else if (input.starts_with("/../") || input == "/..") {
            input = input.size() == 3 ? std::string_view("/") : input.substr(3);
            auto last = output.rfind('/');
            output.erase(last == std::string::npos ? 0 : last);
        } else if (input == "." || input == "..") {
            input = {};
        } else {
            auto next = input.find('/', 1);
            auto segment = input.substr(0, next);
            output += segment;
            input.remove_prefix(segment.size());
        }
    }
    return output;
}

} // namespace

URL URL::fileURL(std::string_view path, bool isDirectory) {
    std::string absolute(path);
    if (absolute.empty() || absolute.front() != '/') {
        std::error_code error;
        auto current = std::filesystem::current_path(error);
        absolute = (error ? std::string("/") : current.string() + "/") + absolute;
    }
    if (isDirectory && absolute.back() != '/') absolute += '/';
    URL url;
    url.scheme_ = "file";
    url.host_ = "";
    url.path_ = encode(absolute, isPathCharacter);
    return url;
}

std::optional<URL> URL::parse(std::string_view text) {
    URL url;
    auto colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0 || !isAlpha(text[0])) return std::nullopt;
    for (char c : text.substr(0, colon))
        if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.') return std::nullopt;
    url.scheme_ = text.substr(0, colon);
    auto rest = text.substr(colon + 1);

    if (auto hash = rest.find('#'); hash != std::string_view::npos) {
        url.fragment_ = rest.substr(hash + 1);
        rest = rest.substr(0, hash);
        if (!isEncoded(*url.fragment_, isQueryCharacter)) return std::nullopt;
    }
    if (auto question = rest.find('?'); question != std::string_view::npos) {
        url.query_ = rest.substr(question + 1);
        rest = rest.substr(0, question);
        if (!isEncoded(*url.query_, isQueryCharacter)) return std::nullopt;
    }
    if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        auto slash = rest.find('/');
        auto authority = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
        if (auto at = authority.find('@'); at != std::string_view::npos) {
            auto userInfo = authority.substr(0, at);
            authority.remove_prefix(at + 1);
            if (!isEncoded(userInfo, isUserInfoCharacter)) return std::nullopt;
            auto separator = userInfo.find(':');
            url.user_ = userInfo.substr(0, separator);
            if (separator != std::string_view::npos) url.password_ = userInfo.substr(separator + 1);
        }
        std::string_view host = authority, port;
        if (authority.starts_with("[")) {
            auto close = authority.find(']');
            if (close == std::string_view::npos) return std::nullopt;
            host = authority.substr(0, close + 1);
            auto after = authority.substr(close + 1);
            if (!after.empty() && after.front() != ':') return std::nullopt;
            if (!after.empty()) port = after.substr(1);
            for (char c : host.substr(1, host.size() - 2))
                if (!isHostCharacter(c) && c != ':') return std::nullopt;
        } else {
            auto separator = authority.find(':');
            host = authority.substr(0, separator);
            if (separator != std::string_view::npos) port = authority.substr(separator + 1);
            if (!isEncoded(host, isHostCharacter)) return std::nullopt;
        }
        if (!port.empty()) {
            if (port.size() > 5) return std::nullopt;
            int value = 0;
            for (char c : port) {
                if (!isDigit(c)) return std::nullopt;
                value = value * 10 + (c - '0');
            }
            if (value > 65535) return std::nullopt;
            url.port_ = value;
        }
        url.host_ = host;
    }
    if (!isEncoded(rest, isPathCharacter)) return std::nullopt;
    url.path_ = rest;
    return url;
}

bool URL::isFileURL() const {
    return scheme_.size() == 4 && (scheme_[0] | 0x20) == 'f' && (scheme_[1] | 0x20) == 'i' &&
           (scheme_[2] | 0x20) == 'l' && (scheme_[3] | 0x20) == 'e';
}

std::optional<std::string> URL::host() const {
    if (!host_) return std::nullopt;
    if (host_->starts_with("[")) return host_->substr(1, host_->size() - 2);
    return decode(*host_);
}

std::optional<std::string> URL::user() const {
    return user_ ? std::optional(decode(*user_)) : std::nullopt;
}

std::optional<std::string> URL::password() const {
    return password_ ? std::optional(decode(*password_)) : std::nullopt;
}

std::string URL::path() const {
    auto decoded = decode(path_);
    if (decoded.size() > 1 && decoded.back() == '/') decoded.pop_back();
    return decoded;
}

std::string URL::lastPathComponent() const {
    auto full = path();
    if (full == "/") return full;
    auto slash = full.rfind('/');
    return slash == std::string::npos ? full : full.substr(slash + 1);
}

std::vector<URLQueryItem> URL::queryItems() const {
    std::vector<URLQueryItem> items;
    if (!query_) return items;
    std::string_view rest = *query_;
    while (!rest.empty()) {
        auto item = rest.substr(0, rest.find('&'));
        rest.remove_prefix(std::min(rest.size(), item.size() + 1));
        if (item.empty()) continue;
        auto equals = item.find('=');
        if (equals == std::string_view::npos) {
            items.push_back({decode(item), std::nullopt});
        } else {
            items.push_back({decode(item.substr(0, equals)), decode(item.substr(equals + 1))});
        }
    }
    return items;
}

std::string URL::absoluteString() const {
    std::string text = scheme_ + ":";
    if (host_) {
        text += "//";
        if (user_) {
            text += *user_;
            if (password_) text += ":" + *password_;
            text += "@";
        }
        text += *host_;
        if (port_) text += ":" + std::to_string(*port_);
    }
    text += path_;
    if (query_) text += "?" + *query_;
    if (fragment_) text += "#" + *fragment_;
    return text;
}

URL URL::appendingPathComponent(std::string_view component, bool isDirectory) const {
    URL url = *this;
    auto encoded = encode(component, isPathCharacter);
    if (url.path_.empty() || url.path_.back() != '/') url.path_ += '/';
    url.path_ += encoded.starts_with("/") ? encoded.substr(1) : encoded;
    if (isDirectory && url.path_.back() != '/') url.path_ += '/';
    return url;
}

URL URL::appendingQueryItems(const std::vector<URLQueryItem>& items) const {
    URL url = *this;
    std::string query = url.query_.value_or("");
    for (const auto& item : items) {
        if (!query.empty()) query += '&';
        query += encode(item.name, isQueryItemCharacter);
        if (item.value) query += "=" + encode(*item.value, isQueryItemCharacter);
    }
    url.query_ = std::move(query);
    return url;
}

URL URL::standardized() const {
    URL url = *this;
    if (url.path_.starts_with("/")) url.path_ = removeDotSegments(url.path_);
    return url;
}

URL URL::resolvingSymlinksInPath() const {
    if (!isFileURL()) return standardized();
    std::error_code error;
    auto resolved = std::filesystem::weakly_canonical(path(), error);
    if (error) return standardized();
    auto text = resolved.string();
    if (text.size() > 1 && text.back() == '/') text.pop_back();
    URL url = *this;
    url.path_ = fileURL(text, hasDirectoryPath()).path_;
    return url;
}

} // namespace tarpelix::platform
