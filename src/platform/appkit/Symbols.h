#pragma once

#include "platform/appkit/Color.h"

#include <string>
#include <vector>

namespace tarpelix::platform {

class GraphicsContext;

// Our symbol drawings. Each draws in a 24 × 24 design box (y up) with one pen: a colour and a
// line width in design units that follows the symbol's weight.
namespace symbols {

struct Pen {
    Color color;
    double lineWidth = 1.7;
};

using Drawing = void (*)(GraphicsContext& context, const Pen& pen);

inline constexpr double designSize = 24;

// The symbol names we draw (the interface toolkit keeps its own icon order).
const std::vector<std::string>& names();
// The drawing of a name; null when we have none.
Drawing drawing(const std::string& name);

} // namespace symbols

} // namespace tarpelix::platform
