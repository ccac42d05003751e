#include "platform/foundation/Calendar.h"

#include "platform/foundation/ICU.h"

#include <memory>
#include <unicode/gregocal.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

namespace tarpelix::platform {

TimeZone TimeZone::current() {
    detail::prepareICU();
    std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createDefault());
    icu::UnicodeString id;
    zone->getID(id);
    std::string identifier;
    id.toUTF8String(identifier);
    return TimeZone{identifier};
}

CalendarDay gregorianDay(Date date, const TimeZone& zone) {
    detail::prepareICU();
    auto* icuZone = icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(zone.identifier));
    UErrorCode status = U_ZERO_ERROR;
    icu::GregorianCalendar calendar(icuZone, status); // adopts the zone
    calendar.setTime(date.unixSeconds() * 1000.0, status);
    CalendarDay day{calendar.get(UCAL_YEAR, status), calendar.get(UCAL_MONTH, status) + 1,
                    calendar.get(UCAL_DATE, status)};
    if (U_FAILURE(status)) return CalendarDay{};
    return day;
}

} // namespace tarpelix::platform
