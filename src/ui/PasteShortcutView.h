#pragma once

#include "platform/appkit/StackView.h"

#include <memory>

namespace tarpelix {

// The Control+V shortcut: a keycap picture followed by the label "Control+V", which is what a
// screen reader reads (the keycap is hidden from it). Main thread only.
class PasteShortcutView : public platform::StackView {
public:
    // At zero frame; use create().
    PasteShortcutView();
    static std::shared_ptr<PasteShortcutView> create();
};

} // namespace tarpelix
