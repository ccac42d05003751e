#include "platform/desktop/Pasteboard.h"

#include "platform/desktop/Desktop.h"
#include "platform/desktop/PasteboardState.h"

#include <algorithm>
#include <memory>
#include <mutex>

namespace tarpelix::platform {

namespace {

void resetPasteboards() {
    auto& desktop = Desktop::shared();
    {
        std::lock_guard lock(desktop.mutex);
        auto& state = desktop.pasteboard;
        state.boards.clear();
        state.standingAnswer.reset();
        state.promptShowing = false;
        state.promptAnswer.reset();
        state.promptsShown = 0;
        ++state.generation;
    }
    desktop.pasteboard.promptChanged.notify_all();
}

// Counts one read, applies a copy armed for it, and tells whether the accessor answers.
bool noteRead(PasteboardState::Board& board, PasteboardAccessor accessor) {
    ++board.reads;
    if (auto& change = board.pendingChange; change && ++change->readsSinceArmed == change->atRead) {
        PasteboardState::copy(board, std::move(change->items));
        change.reset();
    }
    return !board.unavailable.contains(accessor);
}

const PasteboardItemContents* itemAt(const PasteboardState::Board& board, long changeCount,
                                     std::size_t index) {
    if (board.changeCount != changeCount || index >= board.items.size()) return nullptr;
    return &board.items[index];
}

const Bytes* dataIn(const PasteboardItemContents& item, std::string_view type) {
    auto entry = std::find_if(item.begin(), item.end(),
                              [&](const PasteboardEntry& e) { return e.type == type; });
    return entry == item.end() ? nullptr : &entry->data;
}

// Whether this application may read data of the pasteboard now. For the general pasteboard
// under default or ask, the system shows its prompt and this waits for the answer (the
// desktop lock is released meanwhile). Returns false when the read is denied.
bool mayReadData(std::unique_lock<std::mutex>& lock, PasteboardState& state, std::string_view name) {
    if (name != PasteboardNameGeneral) return true;
    int behavior = state.board(name).accessBehavior;
    if (behavior == static_cast<int>(PasteboardAccessBehavior::alwaysAllow)) return true;
    if (behavior != static_cast<int>(PasteboardAccessBehavior::defaultBehavior) &&
        behavior != static_cast<int>(PasteboardAccessBehavior::ask)) {
        return false;
    }
    std::uint64_t generation = state.generation;
    state.promptChanged.wait(lock, [&] { return !state.promptShowing || state.generation != generation; });
    if (state.generation != generation) return false;
    ++state.promptsShown;
    PasteboardPromptAnswer answer;
    if (state.standingAnswer) {
        answer = *state.standingAnswer;
    } else {
        state.promptShowing = true;
        state.promptAnswer.reset();
        state.promptChanged.notify_all();
        state.promptChanged.wait(lock, [&] { return state.promptAnswer || state.generation != generation; });
        if (state.generation != generation) return false; // dismissed by a reset
        answer = *state.promptAnswer;
        state.promptShowing = false;
        state.promptAnswer.reset();
        state.promptChanged.notify_all();
    }
    auto& board = state.board(name);
    switch (answer) {
    case PasteboardPromptAnswer::allowOnce:
        return true;
    case PasteboardPromptAnswer::deny:
        return false;
    case PasteboardPromptAnswer::alwaysAllow:
        board.accessBehavior = static_cast<int>(PasteboardAccessBehavior::alwaysAllow);
        return true;
    case PasteboardPromptAnswer::alwaysDeny:
        board.accessBehavior = static_cast<int>(PasteboardAccessBehavior::alwaysDeny);
        return false;
    }
    return false;
}

// Reads the data of `type` from the item `index` of the contents `changeCount` (none: the
// first item that has the type, in the current contents).
std::optional<Bytes> readData(std::string_view name, std::optional<long> changeCount,
                              std::size_t index, std::string_view type) {
    auto& state = pasteboardState();
    std::unique_lock lock(Desktop::shared().mutex);
    auto& board = state.board(name);
    if (!noteRead(board, PasteboardAccessor::itemData)) return std::nullopt;
    long contents = changeCount.value_or(board.changeCount);
    auto hasType = [&] {
        auto& current = state.board(name);
        if (changeCount) {
            auto* item = itemAt(current, contents, index);
            return item && dataIn(*item, type);
        }
        return current.changeCount == contents &&
               std::any_of(current.items.begin(), current.items.end(),
                           [&](const PasteboardItemContents& item) { return dataIn(item, type) != nullptr; });
    };
    // There is nothing to ask the user about when the data is not there.
    if (!hasType() || !mayReadData(lock, state, name) || !hasType()) return std::nullopt;
    auto& current = state.board(name);
    if (changeCount) return *dataIn(current.items[index], type);
    for (const auto& item : current.items) {
        if (auto* data = dataIn(item, type)) return *data;
    }
    return std::nullopt;
}

} // namespace

PasteboardState& pasteboardState() {
    static std::once_flag registered;
    auto& desktop = Desktop::shared();
    std::call_once(registered, [&] { desktop.addResetHandler(resetPasteboards); });
    return desktop.pasteboard;
}

Pasteboard& Pasteboard::general() { return named(PasteboardNameGeneral); }

Pasteboard& Pasteboard::named(std::string_view name) {
    // Handles live as long as the process, one per name, like the platform's.
    static std::mutex mutex;
    static auto* handles = new std::map<std::string, std::unique_ptr<Pasteboard>, std::less<>>();
    std::lock_guard lock(mutex);
    auto found = handles->find(name);
    if (found == handles->end()) {
        found = handles->emplace(std::string(name), std::unique_ptr<Pasteboard>(new Pasteboard(std::string(name)))).first;
    }
    return *found->second;
}

long Pasteboard::changeCount() const {
    auto& state = pasteboardState();
    std::lock_guard lock(Desktop::shared().mutex);
    auto& board = state.board(name_);
    noteRead(board, PasteboardAccessor::changeCount);
    return board.changeCount;
}

std::optional<std::vector<std::string>> Pasteboard::types() const {
    auto& state = pasteboardState();
    std::lock_guard lock(Desktop::shared().mutex);
    auto& board = state.board(name_);
    if (!noteRead(board, PasteboardAccessor::types)) return std::nullopt;
    std::vector<std::string> types;
    for (const auto& item : board.items) {
        for (const auto& entry : item) {
            if (std::find(types.begin(), types.end(), entry.type) == types.end()) types.push_back(entry.type);
        }
    }
    return types;
}

std::optional<std::vector<PasteboardItem>> Pasteboard::pasteboardItems() const {
    auto& state = pasteboardState();
    std::lock_guard lock(Desktop::shared().mutex);
    auto& board = state.board(name_);
    if (!noteRead(board, PasteboardAccessor::items)) return std::nullopt;
    std::vector<PasteboardItem> items;
    for (std::size_t index = 0; index < board.items.size(); ++index) {
        std::vector<std::string> types;
        for (const auto& entry : board.items[index]) types.push_back(entry.type);
        items.push_back(PasteboardItem(name_, board.changeCount, index, std::move(types)));
    }
    return items;
}

std::optional<Bytes> Pasteboard::dataForType(std::string_view type) const {
    return readData(name_, std::nullopt, 0, type);
}

PasteboardAccessBehavior Pasteboard::accessBehavior() const {
    auto& state = pasteboardState();
    std::lock_guard lock(Desktop::shared().mutex);
    auto& board = state.board(name_);
    noteRead(board, PasteboardAccessor::accessBehavior);
    return static_cast<PasteboardAccessBehavior>(board.accessBehavior);
}

long Pasteboard::clearContents() {
    auto& state = pasteboardState();
    std::lock_guard lock(Desktop::shared().mutex);
    auto& board = state.board(name_);
    board.items.clear();
    return ++board.changeCount;
}

bool Pasteboard::setData(const Bytes& data, std::string_view type) {
    auto& state = pasteboardState();
    std::lock_guard lock(Desktop::shared().mutex);
    auto& board = state.board(name_);
    if (board.unavailable.contains(PasteboardAccessor::write)) return false;
    if (board.items.empty()) board.items.emplace_back();
    auto& item = board.items.front();
    std::erase_if(item, [&](const PasteboardEntry& e) { return e.type == type; });
    item.push_back(PasteboardEntry{std::string(type), data});
    return true;
}

bool Pasteboard::setString(std::string_view text, std::string_view type) {
    return setData(bytesOf(text), type);
}

std::optional<std::vector<std::string>> PasteboardItem::types() const {
    auto& state = pasteboardState();
    std::lock_guard lock(Desktop::shared().mutex);
    if (!noteRead(state.board(pasteboard_), PasteboardAccessor::itemTypes)) return std::nullopt;
    return types_;
}

std::optional<Bytes> PasteboardItem::dataForType(std::string_view type) const {
    return readData(pasteboard_, changeCount_, index_, type);
}

} // namespace tarpelix::platform
