#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarpelix::platform {

// One "name=value" item of a URL's query; a value is absent when the item has no "=".
struct URLQueryItem {
    std::string name;
    std::optional<std::string> value;

    bool operator==(const URLQueryItem&) const = default;
};

// An absolute URL in the form of RFC 3986: scheme, optional authority (user, password, host,
// port), path, query and fragment. Components are kept as written (percent-encoded); the
// accessors that name a decoded form say so.
class URL {
public:
    // A "file" URL for a path; a relative path is taken from the current directory. A
    // directory URL ends with "/".
    static URL fileURL(std::string_view path, bool isDirectory = false);
    // None when the text is not an absolute URL: no scheme, a character outside the grammar
    // (space, non-ASCII), a bad percent escape, or a port that is not a number up to 65535.
    static std::optional<URL> parse(std::string_view text);

    const std::string& scheme() const { return scheme_; }
    bool isFileURL() const;
    // Decoded; none without an authority ("//"). An IPv6 host comes without its brackets.
    std::optional<std::string> host() const;
    std::optional<std::string> user() const;
    std::optional<std::string> password() const;
    std::optional<int> port() const { return port_; }
    // Decoded; a trailing "/" is dropped unless the path is "/" alone.
    std::string path() const;
    bool hasDirectoryPath() const { return path_.size() > 1 && path_.back() == '/'; }
    std::string lastPathComponent() const;
    // As written (percent-encoded).
    const std::optional<std::string>& query() const { return query_; }
    const std::optional<std::string>& fragment() const { return fragment_; }
    // The query split at "&" and the first "=" of each item, names and values decoded.
    std::vector<URLQueryItem> queryItems() const;
    std::string absoluteString() const;

    URL appendingPathComponent(std::string_view component, bool isDirectory = false) const;
    // Appends the items to the query, percent-encoding every character a query value cannot
    // carry literally: "&", "=" and "+" too, so no server reads them as separators or spaces.
    URL appendingQueryItems(const std::vector<URLQueryItem>& items) const;
    // "." and ".." segments of an absolute path removed.
    URL standardized() const;
    // For a file URL: symbolic links in the existing part of the path resolved, the rest
    // standardized. Other URLs, and paths that cannot be resolved, are only standardized.
    URL resolvingSymlinksInPath() const;

    bool operator==(const URL&) const = default;

private:
    std::string scheme_;
    std::optional<std::string> user_;
    std::optional<std::string> password_;
    std::optional<std::string> host_; // present exactly when the URL has an authority
    std::optional<int> port_;
    std::string path_;
    std::optional<std::string> query_;
    std::optional<std::string> fragment_;
};

} // namespace tarpelix::platform
