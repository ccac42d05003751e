#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Unicode text helpers on ICU. Strings are UTF-8; lengths that the descriptions count in
// characters are counted in grapheme clusters or UTF-16 units here, never in bytes.
namespace tarpelix::platform::text {

bool isValidUTF8(std::string_view text);
// True when any code point of the text passes `test`, or when the text is not valid UTF-8.
bool anyCodePoint(std::string_view text, bool (*test)(char32_t codePoint));
// The text itself when it is valid UTF-8; otherwise a copy in which every invalid sequence is
// replaced by U+FFFD, as a Foundation string would hold it.
std::string validUTF8(std::string_view text);
// UTF-16 code units as UTF-8; a surrogate without its other half becomes U+FFFD.
std::string fromUTF16(std::u16string_view units);

// The pieces of the text between the separators, empty pieces kept: "a,,b" gives "a", ""
// and "b"; an empty text gives one empty piece. The pieces view the text.
std::vector<std::string_view> split(std::string_view text, char separator);

// Every occurrence of `target` replaced by `replacement` (exact, case-sensitive), left to right.
std::string replacingOccurrences(std::string_view text, std::string_view target, std::string_view replacement);

// Locale-independent lower-casing (full Unicode case mapping).
std::string lowercased(std::string_view text);

// True when a code point is in the general category Cc (control) or Cf (format).
bool isControlOrFormat(char32_t codePoint);
// True when any code point of the text is Cc or Cf. Invalid UTF-8 counts as true.
bool containsControlOrFormat(std::string_view text);

// Length in UTF-16 code units (as a Foundation string counts it).
std::size_t utf16Length(std::string_view text);

// Number of extended grapheme clusters (user-perceived characters).
std::size_t graphemeCount(std::string_view text);

// The longest prefix of at most `limit` grapheme clusters; never splits a cluster.
std::string prefixGraphemes(std::string_view text, std::size_t limit);

} // namespace tarpelix::platform::text
