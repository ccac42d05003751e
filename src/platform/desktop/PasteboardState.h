#pragma once

#include "platform/desktop/Pasteboard.h"
#include "platform/foundation/Bytes.h"

#include <condition_variable>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tarpelix::platform {

// One representation of a pasteboard item: a type and its data.
struct PasteboardEntry {
    std::string type;
    Bytes data;
    bool operator==(const PasteboardEntry&) const = default;
};

// The representations of one pasteboard item, in the order the copying application gave them.
using PasteboardItemContents = std::vector<PasteboardEntry>;

// The ways a process reads (or writes) a pasteboard; used to count reads and to make one
// of them fail, as a pasteboard server that does not answer would.
enum class PasteboardAccessor {
    changeCount,
    types,
    items,
    itemTypes,
    itemData, // also the pasteboard's own data(forType:)
    accessBehavior,
    write,
};

// What the user answers to the system's clipboard-access prompt.
enum class PasteboardPromptAnswer {
    allowOnce,   // this read gets the data; the behaviour stays
    deny,        // this read gets nothing; the behaviour stays
    alwaysAllow, // the behaviour becomes always allow, and this read gets the data
    alwaysDeny,  // the behaviour becomes always deny, and this read gets nothing
};

// The state of every pasteboard of the simulated Mac, held by Desktop and guarded by
// Desktop::mutex.
struct PasteboardState {
    struct Board {
        long changeCount = 0;
        std::vector<PasteboardItemContents> items;
        int accessBehavior = static_cast<int>(PasteboardAccessBehavior::defaultBehavior);
        std::set<PasteboardAccessor> unavailable;
        long reads = 0;
        // A copy made by another application just before the `atRead`-th read after arming.
        struct PendingChange {
            long atRead = 0;
            long readsSinceArmed = 0;
            std::vector<PasteboardItemContents> items;
        };
        std::optional<PendingChange> pendingChange;
    };

    std::map<std::string, Board, std::less<>> boards;

    Board& board(std::string_view name) {
        auto found = boards.find(name);
        if (found == boards.end()) found = boards.emplace(std::string(name), Board{}).first;
        return found->second;
    }

    // Another application's copy: new contents, one step of the change count.
    static void copy(Board& board, std::vector<PasteboardItemContents> items) {
        board.items = std::move(items);
        ++board.changeCount;
    }

    // The access prompt of the general pasteboard. Only one is shown at a time.
    std::optional<PasteboardPromptAnswer> standingAnswer; // answers every prompt at once
    bool promptShowing = false;
    std::optional<PasteboardPromptAnswer> promptAnswer; // the answer to the prompt showing
    long promptsShown = 0;
    std::uint64_t generation = 0; // advanced by a reset, which dismisses a showing prompt
    std::condition_variable promptChanged;
};

// The desktop's pasteboard state, its reset registered with the desktop on first use.
// Lock Desktop::shared().mutex around every use.
PasteboardState& pasteboardState();

} // namespace tarpelix::platform
