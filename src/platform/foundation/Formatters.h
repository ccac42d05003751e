#pragma once

#include "platform/foundation/Calendar.h"
#include "platform/foundation/Date.h"

#include <cstdint>
#include <string>
#include <string_view>

// Numbers, dates and byte counts written for a locale ("en_US", "de_DE") and a time zone, as
// the user reads them.
namespace tarpelix::platform::Formatters {

// The lengths of the locale's standard date and time forms; `none` leaves that half out.
enum class DateStyle { none, shortStyle, mediumStyle, longStyle, fullStyle };

// An integer with the locale's grouping separators: 1234567 -> "1,234,567" ("1.234.567" in
// German).
std::string groupedInteger(std::int64_t value, const std::string& locale = "en_US");

// A date in the locale's order and punctuation for the fields a template names: "MMM d yyyy"
// -> "Jan 2, 2026" ("2. Jan. 2026" in German). Characters other than letters are ignored.
std::string dateFromTemplate(Date date, std::string_view dateTemplate, const std::string& locale = "en_US",
                             const TimeZone& zone = TimeZone::current());

// A date in the locale's standard forms: medium date with short time -> "Jan 2, 2026, 3:04 PM".
std::string dateWithStyles(Date date, DateStyle dateStyle, DateStyle timeStyle,
                           const std::string& locale = "en_US", const TimeZone& zone = TimeZone::current());

// A byte count in decimal units (1 KB = 1000 bytes): "byte" or "bytes" below 1 KB, whole
// kilobytes, megabytes to one decimal, larger units to two, trailing zeros dropped; a value
// that rounds to 1000 of a unit is shown in the next one. 1234567 -> "1.2 MB".
std::string byteCount(std::int64_t bytes, const std::string& locale = "en_US");

} // namespace tarpelix::platform::Formatters
