#pragma once

#include "platform/foundation/Bytes.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarpelix::platform {

// Uniform type identifiers of the pasteboard types the system reads.
namespace PasteboardType {
inline constexpr std::string_view png = "public.png";
inline constexpr std::string_view tiff = "public.tiff";
inline constexpr std::string_view fileURL = "public.file-url";
inline constexpr std::string_view string = "public.utf8-plain-text";
} // namespace PasteboardType

// The name of the general pasteboard, the one the user's copy and paste use.
inline constexpr std::string_view PasteboardNameGeneral = "Apple CFPasteboard general";

// How this application may read the general pasteboard, as the user set it. Raw values are
// the platform's; the pasteboard may report values it does not name.
enum class PasteboardAccessBehavior : int {
    defaultBehavior = 0,
    ask = 1,
    alwaysAllow = 2,
    alwaysDeny = 3,
};

// One item of a pasteboard, valid for the contents it was read from: once the pasteboard
// changes, its types are still those it was read with, but its data is gone.
class PasteboardItem {
public:
    // The item's types in order; none when the pasteboard does not answer.
    std::optional<std::vector<std::string>> types() const;
    // The item's data for a type; none when it lacks the type, the pasteboard changed, or
    // the read is not allowed. A read of the general pasteboard may raise the system's
    // access prompt and waits for its answer.
    std::optional<Bytes> dataForType(std::string_view type) const;

private:
    friend class Pasteboard;
    PasteboardItem(std::string pasteboard, long changeCount, std::size_t index,
                   std::vector<std::string> types)
        : pasteboard_(std::move(pasteboard)), changeCount_(changeCount), index_(index),
          types_(std::move(types)) {}

    std::string pasteboard_;
    long changeCount_;
    std::size_t index_;
    std::vector<std::string> types_;
};

// A pasteboard of the simulated Mac. The objects are thin handles: the contents live in the
// desktop, so every read sees what the last copy (by any application) left there.
class Pasteboard {
public:
    static Pasteboard& general();
    // The pasteboard of that name; the same object for the same name.
    static Pasteboard& named(std::string_view name);

    const std::string& name() const { return name_; }

    // Every read below is one read of the pasteboard.
    long changeCount() const;
    // The types of all items, each once, in order of first appearance; none when the
    // pasteboard does not answer.
    std::optional<std::vector<std::string>> types() const;
    std::optional<std::vector<PasteboardItem>> pasteboardItems() const;
    // The data of the first item that has the type (see PasteboardItem::dataForType).
    std::optional<Bytes> dataForType(std::string_view type) const;
    PasteboardAccessBehavior accessBehavior() const;

    // Empties the pasteboard and takes it over for writing; returns the new change count.
    long clearContents();
    // Puts data for a type on the first item (made if there is none); false when refused.
    bool setData(const Bytes& data, std::string_view type);
    bool setString(std::string_view text, std::string_view type);

    Pasteboard(const Pasteboard&) = delete;
    Pasteboard& operator=(const Pasteboard&) = delete;

private:
    explicit Pasteboard(std::string name) : name_(std::move(name)) {}
    std::string name_;
};

} // namespace tarpelix::platform
