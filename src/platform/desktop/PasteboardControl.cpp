#include "platform/desktop/PasteboardControl.h"

#include "platform/desktop/Desktop.h"

#include <mutex>

namespace tarpelix::platform::DesktopControl {

namespace {

// Runs `change` on the named board under the desktop lock.
template <typename F>
auto withBoard(std::string_view pasteboard, F&& change) {
    auto& state = pasteboardState();
    std::lock_guard lock(Desktop::shared().mutex);
    return change(state.board(pasteboard));
}

} // namespace

void copyItems(std::vector<PasteboardItemContents> items, std::string_view pasteboard) {
    withBoard(pasteboard, [&](PasteboardState::Board& board) { PasteboardState::copy(board, std::move(items)); });
}

void copyData(std::string_view type, Bytes data, std::string_view pasteboard) {
    copyItems({{PasteboardEntry{std::string(type), std::move(data)}}}, pasteboard);
}

void copyPNG(Bytes png, std::string_view pasteboard) {
    copyData(PasteboardType::png, std::move(png), pasteboard);
}

void copyTIFF(Bytes tiff, std::string_view pasteboard) {
    copyData(PasteboardType::tiff, std::move(tiff), pasteboard);
}

void copyFileURL(std::string_view url, std::string_view pasteboard) {
    copyData(PasteboardType::fileURL, bytesOf(url), pasteboard);
}

void clearPasteboard(std::string_view pasteboard) { copyItems({}, pasteboard); }

void setPasteboardAccessBehavior(int rawValue, std::string_view pasteboard) {
    withBoard(pasteboard, [&](PasteboardState::Board& board) { board.accessBehavior = rawValue; });
}

void changePasteboardAtRead(long atRead, std::vector<PasteboardItemContents> items,
                            std::string_view pasteboard) {
    withBoard(pasteboard, [&](PasteboardState::Board& board) {
        board.pendingChange = PasteboardState::Board::PendingChange{atRead, 0, std::move(items)};
    });
}

long pasteboardReadCount(std::string_view pasteboard) {
    return withBoard(pasteboard, [](PasteboardState::Board& board) { return board.reads; });
}

void setPasteboardAccessorUnavailable(PasteboardAccessor accessor, bool unavailable,
                                      std::string_view pasteboard) {
    withBoard(pasteboard, [&](PasteboardState::Board& board) {
        if (unavailable) {
            board.unavailable.insert(accessor);
        } else {
            board.unavailable.erase(accessor);
        }
    });
}

void setPasteboardPromptAnswer(std::optional<PasteboardPromptAnswer> answer) {
    auto& state = pasteboardState();
    std::lock_guard lock(Desktop::shared().mutex);
    state.standingAnswer = answer;
}

bool answerPasteboardPrompt(PasteboardPromptAnswer answer) {
    auto& state = pasteboardState();
    {
        std::lock_guard lock(Desktop::shared().mutex);
        if (!state.promptShowing || state.promptAnswer) return false;
        state.promptAnswer = answer;
    }
    state.promptChanged.notify_all();
    return true;
}

bool isPasteboardPromptShowing() {
    auto& state = pasteboardState();
    std::lock_guard lock(Desktop::shared().mutex);
    return state.promptShowing && !state.promptAnswer;
}

long pasteboardPromptsShown() {
    auto& state = pasteboardState();
    std::lock_guard lock(Desktop::shared().mutex);
    return state.promptsShown;
}

} // namespace tarpelix::platform::DesktopControl
