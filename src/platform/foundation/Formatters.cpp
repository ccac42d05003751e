#include "platform/foundation/Formatters.h"

#include "platform/foundation/ICU.h"

#include <array>
#include <memory>
#include <unicode/datefmt.h>
#include <unicode/dtptngen.h>
#include <unicode/numberformatter.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>

namespace tarpelix::platform::Formatters {

namespace {

using icu::number::NumberFormatter;
using icu::number::Precision;
using icu::number::Scale;

std::string utf8(const icu::UnicodeString& text) {
    std::string result;
    text.toUTF8String(result);
    return result;
}

// `scaledValue` × 10^-decimals, written with up to that many decimals, trailing zeros dropped.
std::string decimal(std::int64_t scaledValue, int decimals, const std::string& locale) {
    detail::prepareICU();
    UErrorCode status = U_ZERO_ERROR;
    auto formatted = NumberFormatter::withLocale(icu::Locale(locale.c_str()))
                         .precision(Precision::minMaxFraction(0, decimals))
                         .scale(Scale::powerOfTen(-decimals))
                         .formatInt(scaledValue, status);
    auto text = formatted.toString(status);
    return U_FAILURE(status) ? std::string() : utf8(text);
}

std::string formatted(icu::DateFormat* format, Date date, const TimeZone& zone) {
    if (!format) return {};
    format->adoptTimeZone(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(zone.identifier)));
    icu::UnicodeString text;
    format->format(date.unixSeconds() * 1000.0, text);
    return utf8(text);
}

icu::DateFormat::EStyle icuStyle(DateStyle style) {
    switch (style) {
    case DateStyle::none:
        return icu::DateFormat::kNone;
    case DateStyle::shortStyle:
        return icu::DateFormat::kShort;
    case DateStyle::mediumStyle:
        return icu::DateFormat::kMedium;
    case DateStyle::longStyle:
        return icu::DateFormat::kLong;
    case DateStyle::fullStyle:
        return icu::DateFormat::kFull;
    }
    return icu::DateFormat::kNone;
}

} // namespace

std::string groupedInteger(std::int64_t value, const std::string& locale) {
    return decimal(value, 0, locale);
}

std::string dateFromTemplate(Date date, std::string_view dateTemplate, const std::string& locale,
                             const TimeZone& zone) {
    detail::prepareICU();
    std::string skeleton;
    for (char c : dateTemplate)
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) skeleton += c;
    icu::Locale icuLocale(locale.c_str());
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::DateTimePatternGenerator> generator(
        icu::DateTimePatternGenerator::createInstance(icuLocale, status));
    if (U_FAILURE(status)) return {};
    auto pattern = generator->getBestPattern(icu::UnicodeString::fromUTF8(skeleton), status);
    if (U_FAILURE(status)) return {};
    icu::SimpleDateFormat format(pattern, icuLocale, status);
    if (U_FAILURE(status)) return {};
    return formatted(&format, date, zone);
}

std::string dateWithStyles(Date date, DateStyle dateStyle, DateStyle timeStyle, const std::string& locale,
                           const TimeZone& zone) {
    detail::prepareICU();
    std::unique_ptr<icu::DateFormat> format(icu::DateFormat::createDateTimeInstance(
        icuStyle(dateStyle), icuStyle(timeStyle), icu::Locale(locale.c_str())));
    return formatted(format.get(), date, zone);
}

std::string byteCount(std::int64_t bytes, const std::string& locale) {
    // Unsigned magnitude, so that the most negative count has one too.
    std::uint64_t magnitude =
        bytes < 0 ? 0 - static_cast<std::uint64_t>(bytes) : static_cast<std::uint64_t>(bytes);
    if (magnitude < 1000) return decimal(bytes, 0, locale) + (magnitude == 1 ? " byte" : " bytes");

    static constexpr std::array<const char*, 6> units = {"KB", "MB", "GB", "TB", "PB", "EB"};
    std::size_t unit = 0;
    std::uint64_t unitSize = 1000;
    while (unit + 1 < units.size() && magnitude / 1000 >= unitSize) {
        ++unit;
        unitSize *= 1000;
    }
    for (;;) {
        int decimals = unit == 0 ? 0 : unit == 1 ? 1 : 2;
        std::uint64_t step = unitSize;
        std::uint64_t whole = 1000;
        for (int i = 0; i < decimals; ++i) {
            step /= 10;
            whole *= 10;
        }
        std::uint64_t rounded = magnitude / step + (magnitude % step >= step / 2 ? 1 : 0); // half up
        if (rounded >= whole && unit + 1 < units.size()) {
            ++unit;
            unitSize *= 1000;
            continue;
        }
        auto scaled = static_cast<std::int64_t>(rounded);
        return decimal(bytes < 0 ? -scaled : scaled, decimals, locale) + " " + units[unit];
    }
}

} // namespace tarpelix::platform::Formatters
