// Local clock, regional date/time formats and the date-time pattern formatter.
#pragma once

#include <ctime>
#include <functional>
#include <string>
#include <string_view>

namespace tav {

struct LocalTime {
  int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};

LocalTime LocalNow();
LocalTime ToLocalTime(std::time_t t);

// A clock that tests can replace.
using Clock = std::function<LocalTime()>;

// The machine's regional choices, expressed in the formatter's own pattern letters
// ("/" and ":" stand for the separators).
struct Regional {
  char16_t dateSeparator = u'/';
  char16_t timeSeparator = u':';
  std::u16string shortDateFormat = u"dd/MM/yyyy";
  std::u16string longTimeFormat = u"hh:nn:ss";
};

// Taken once from the user's regional settings: on Linux the LC_TIME locale (the
// C, C.UTF-8 and POSIX locales give the defaults above), on Windows the user's locale.
const Regional &CurrentRegional();
// Converts a strftime pattern (nl_langinfo's D_FMT/T_FMT) into a Regional; exposed for tests.
Regional RegionalFromStrftime(std::string_view dateFormat, std::string_view timeFormat);

// Letters are case-insensitive: D day, M month (minute right after an hour letter),
// Y year (one or two letters: two digits, three or more: four), h hour (24-hour),
// n minute, s second; a doubled letter gives two digits; "/" and ":" are the
// regional separators; every other character stands for itself.
std::u16string FormatDateTime(std::u16string_view pattern, const LocalTime &t, const Regional &regional);
std::u16string FormatDateTime(std::u16string_view pattern, const LocalTime &t);

// "Tue, 09 Dec 2025 14:03:07 GMT".
std::string Rfc1123(std::time_t t);
// The calendar parts of `t` in UTC.
std::tm UtcParts(std::time_t t);

}  // namespace tav
