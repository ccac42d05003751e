#pragma once

#include "platform/desktop/Pasteboard.h"
#include "platform/desktop/PasteboardState.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The pasteboard's part of the control surface: what another application copies, how the
// user set clipboard access, and how the user answers the access prompt. Every function
// takes the pasteboard's name; the default is the general pasteboard.
namespace tarpelix::platform::DesktopControl {

// Another application copies these items (an empty list clears the pasteboard); the change
// count advances by one.
void copyItems(std::vector<PasteboardItemContents> items,
               std::string_view pasteboard = PasteboardNameGeneral);
// One item with one representation.
void copyData(std::string_view type, Bytes data, std::string_view pasteboard = PasteboardNameGeneral);
void copyPNG(Bytes png, std::string_view pasteboard = PasteboardNameGeneral);
void copyTIFF(Bytes tiff, std::string_view pasteboard = PasteboardNameGeneral);
// A copied file, as Finder puts it: its file URL ("file:///...").
void copyFileURL(std::string_view url, std::string_view pasteboard = PasteboardNameGeneral);
void clearPasteboard(std::string_view pasteboard = PasteboardNameGeneral);

// The access behaviour the pasteboard reports, by raw value (values beyond the named four
// are allowed, as the platform may report them).
void setPasteboardAccessBehavior(int rawValue, std::string_view pasteboard = PasteboardNameGeneral);

// Another application copies `items` just before the `atRead`-th read of the pasteboard
// from now on (reads of any accessor count; the first read is 1).
void changePasteboardAtRead(long atRead, std::vector<PasteboardItemContents> items,
                            std::string_view pasteboard = PasteboardNameGeneral);
// Reads of the pasteboard since the desktop was reset.
long pasteboardReadCount(std::string_view pasteboard = PasteboardNameGeneral);

// Makes reads through one accessor answer nothing (or writes be refused), or answer again.
void setPasteboardAccessorUnavailable(PasteboardAccessor accessor, bool unavailable,
                                      std::string_view pasteboard = PasteboardNameGeneral);

// The answer the user gives to every access prompt from now on, at once; none (the initial
// state) leaves each prompt showing, and the reading thread waiting, until answerPasteboardPrompt.
void setPasteboardPromptAnswer(std::optional<PasteboardPromptAnswer> answer);
// Answers the prompt showing; false when none is showing.
bool answerPasteboardPrompt(PasteboardPromptAnswer answer);
bool isPasteboardPromptShowing();
long pasteboardPromptsShown();

} // namespace tarpelix::platform::DesktopControl
