#include "platform/foundation/ICU.h"

#include <memory>
#include <mutex>
#include <unicode/brkiter.h>
#include <unicode/gregocal.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

namespace tarpelix::platform::detail {

void prepareICU() {
    static std::once_flag once;
    std::call_once(once, [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> characters(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        icu::UnicodeString sample = icu::UnicodeString::fromUTF8("Ab");
        sample.toLower(icu::Locale::getRoot());
        if (characters) characters->setText(sample);
        std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createDefault());
        status = U_ZERO_ERROR;
        icu::GregorianCalendar calendar(icu::TimeZone::createTimeZone("Europe/Berlin"), status);
        calendar.setTime(0, status);
        (void)calendar.get(UCAL_YEAR, status);
    });
}

} // namespace tarpelix::platform::detail
