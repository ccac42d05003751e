#pragma once

namespace tarpelix::platform::detail {

// Loads ICU's data and lazily built tables once, under a once-flag the thread sanitizer can
// see: ICU's own one-time initialization uses atomics inside the uninstrumented library,
// which otherwise show as races when two threads are the first to use it together.
void prepareICU();

} // namespace tarpelix::platform::detail
