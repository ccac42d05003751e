#include "platform/appkit/Sheet.h"

#include "platform/appkit/AppKitState.h"
#include "platform/appkit/Box.h"
#include "platform/appkit/Button.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/foundation/MainThread.h"

#include <cstdio>
#include <cstdlib>

namespace tarpelix::platform {

namespace {
SheetPanel* runningModal = nullptr;
}

SheetPanel::SheetPanel(const Rect& contentRect) : Panel(contentRect, WindowStyle::borderless) {
    // A rounded card with a hairline border over a clear window.
    auto card = Box::custom();
    card->setFillColor(Color::windowBackgroundColor());
    card->setBorderColor(Color::separatorColor());
    card->setBorderWidth(1);
    card->setCornerRadius(10);
    setContentView(card);
    setBackgroundColor(Color::clear());
    setOpaque(false);
    setReleasedWhenClosed(false);
}

Button* SheetPanel::buttonTitled(const std::string& title) const {
    for (Button* button : buttons_) {
        if (button->title() == title && button->isEnabled() && !button->isHiddenOrHasHiddenAncestor()) return button;
    }
    return nullptr;
}

SheetContents SheetPanel::contents() const {
    SheetContents c = description_;
    c.buttons.clear();
    for (const Button* button : buttons_) c.buttons.push_back(button->title());
    return c;
}

SheetPanel* SheetPanel::modalPanel() { return runningModal; }

bool SheetPanel::present(Window& window, std::function<void(ModalResponse)> completion, std::shared_ptr<void> owner) {
    requireMainThread("beginSheetModal");
    if (presented_ || window.attachedSheet()) return false;
    setDelegate(std::dynamic_pointer_cast<WindowDelegate>(shared_from_this()));
    presented_ = true;
    response_.reset();
    completion_ = std::move(completion);
    owner_ = std::move(owner);
    if (!window.beginSheet(std::static_pointer_cast<Window>(shared_from_this()))) {
        presented_ = false;
        completion_ = nullptr;
        owner_.reset();
        return false;
    }
    return true;
}

void SheetPanel::windowWillClose(Window&) {
    if (!presented_) return;
    presented_ = false;
    completion_ = nullptr;
    owner_.reset();
}

void SheetPanel::finish(ModalResponse response) {
    if (!presented_) return;
    presented_ = false;
    response_ = response;
    // The button or key that ended it is still on the stack: the panel and its owner are let go
    // of on the next pass of the main run loop, not before.
    RunLoop::main()->perform([keep = shared_from_this(), owner = std::move(owner_)] {});
    if (Window* parent = sheetParent()) {
        parent->endSheet(*this);
    } else {
        orderOut();
    }
    if (auto completion = std::move(completion_)) {
        completion_ = nullptr;
        completion(response);
    }
}

ModalResponse SheetPanel::runModalSession(const std::string& description) {
    requireMainThread("runModal");
    if (runningModal) {
        std::fprintf(stderr, "runModal: a modal session is already running (%s)\n", description.c_str());
        std::abort();
    }
    presented_ = true;
    response_.reset();
    layoutIfNeeded();
    setLevel(WindowLevels::modalPanel);
    center();
    makeKeyAndOrderFront();
    runningModal = this;
    const bool answered = RunLoop::main()->runUntil([this] { return response_.has_value(); },
                                                    appkitstate::modalWaitSeconds(), RunLoopMode::modalPanel);
    runningModal = nullptr;
    if (!answered) {
        std::fprintf(stderr, "A modal alert (%s) is up and nothing answered it within %g seconds\n",
                     description.c_str(), appkitstate::modalWaitSeconds());
        std::abort();
    }
    return *response_;
}

} // namespace tarpelix::platform
