#pragma once

#include "platform/appkit/Button.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/Font.h"
#include "platform/appkit/ImageView.h"
#include "platform/appkit/Label.h"
#include "platform/appkit/StackView.h"
#include "platform/appkit/View.h"
#include "ui/InterfaceCardView.h"
#include "ui/InterfaceIcon.h"

#include <memory>
#include <string>
#include <vector>

// The shared look of every window: fonts, spacing steps, labels that set code terms in a
// monospaced face, titled cards, button emphasis and status icons. Main thread only, except
// the fonts.
namespace tarpelix::InterfaceStyle {

// The fonts, each made once on first use and shared.
namespace Font {
const platform::Font& title();   // system bold 26
const platform::Font& section(); // system semibold 16
const platform::Font& status();  // system semibold 17
const platform::Font& body();    // system 13
const platform::Font& reading(); // system 14
const platform::Font& caption(); // system 12
const platform::Font& code();    // monospaced system 13
} // namespace Font

// Spacing steps in points.
namespace Spacing {
inline constexpr double tight = 4;
inline constexpr double related = 8;
inline constexpr double content = 12;
inline constexpr double group = 16;
inline constexpr double cardInset = 20;
inline constexpr double pageInset = 24;
inline constexpr double section = 32;
} // namespace Spacing

// A wrapping label in the body font, in the secondary label colour or the label colour. Every
// occurrence of each non-empty term of `code` (literal, case-sensitive, searched on after the
// end of the previous one) is set in the code font; with no terms the label stays plain.
std::shared_ptr<platform::Label> label(const std::string& text, bool secondary = false,
                                       const std::vector<std::string>& code = {});

// A card holding `content` 20 points inside each of its edges.
std::shared_ptr<InterfaceCardView> cardAround(const std::shared_ptr<platform::View>& content);

// A card holding the title (section font) above `views`, 12 points apart and 20 points inside
// the card's edges; labels and stacks among them are made as wide as the column.
std::shared_ptr<platform::View> group(const std::string& title, const std::vector<std::shared_ptr<platform::View>>& views);

// A stack of the views along the axis, placed by constraints (no autoresizing mask).
std::shared_ptr<platform::StackView> stack(platform::LayoutAxis axis, platform::StackView::Alignment alignment,
                                           double spacing, const std::vector<std::shared_ptr<platform::View>>& views);

// Fills the button's bezel with the accent colour when emphasized, else the default bezel.
void emphasize(platform::Button& button, bool emphasized);

// Shows the icon at the feedback size in `color`, hidden from the screen reader (the text
// beside it says what it means).
void statusIcon(platform::ImageView& imageView, InterfaceIcon icon, const platform::Color& color);

} // namespace tarpelix::InterfaceStyle
