#pragma once

namespace tarpelix {

// The ssh transport's operations; a structure without stored fields.
struct SSHTransport {
    // Seconds every paste operation may take, counted from the key press.
    static constexpr double operationTimeout = 30.0;
};

} // namespace tarpelix
