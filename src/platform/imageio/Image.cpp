#include "platform/imageio/Image.h"

#include <mutex>

namespace tarpelix::platform {

struct Pixels::State {
    // Whether the pixels are decoded later; never changed after construction.
    bool later = false;
    // Dropped once it has run, with the file it holds.
    Decoder decode;
    std::once_flag once;
    std::optional<Bytes> bytes;
};

Pixels::Pixels(Bytes bytes) : state_(std::make_shared<State>()) { state_->bytes = std::move(bytes); }

Pixels Pixels::decodedOnFirstRead(Decoder decode) {
    auto state = std::make_shared<State>();
    state->later = true;
    state->decode = std::move(decode);
    return Pixels(std::move(state));
}

const Bytes* Pixels::get() const {
    if (state_->later) {
        std::call_once(state_->once, [this] {
            try {
                state_->bytes = state_->decode();
            } catch (...) {
                state_->bytes.reset(); // out of memory while decoding: the pixels do not decode
            }
            state_->decode = nullptr;
        });
    }
    return state_->bytes ? &*state_->bytes : nullptr;
}

} // namespace tarpelix::platform
