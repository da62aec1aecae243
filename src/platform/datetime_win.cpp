// The clock and regional formats on Windows: the user's locale (short date, long
// time, and their separators).
#include <windows.h>

#include "platform/datetime.h"
#include "platform/detail/datetime_backend.h"
#include "platform/win_util.h"

namespace tav {
namespace {

std::u16string LocaleText(LCTYPE what) {
  wchar_t buffer[128] = {};
  const int n = GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, what, buffer, 128);
  if (n <= 1) return {};
  return win::Text(buffer, static_cast<std::size_t>(n - 1));
}

// A Windows date or time picture in the formatter's letters: d, M and y stay, H and
// h are the hour, m the minute, s the second; "tt" (AM/PM) and quotes are dropped;
// the separator becomes `symbol`.
std::u16string Translate(std::u16string_view picture, std::u16string_view separator, char16_t symbol) {
  std::u16string out;
  for (std::size_t i = 0; i < picture.size(); ++i) {
    const char16_t c = picture[i];
    if (c == u'\'') {
      const std::size_t close = picture.find(u'\'', i + 1);
      if (close == std::u16string_view::npos) break;
      out.append(picture.substr(i + 1, close - i - 1));
      i = close;
    } else if (!separator.empty() && picture.substr(i, separator.size()) == separator) {
      out.push_back(symbol);
      i += separator.size() - 1;
    } else if (c == u'H' || c == u'h') {
      out.push_back(u'h');
    } else if (c == u'm') {
      out.push_back(u'n');
    } else if (c == u't') {
      continue;
    } else {
      out.push_back(c);
    }
  }
  while (!out.empty() && out.back() == u' ') out.pop_back();
  return out;
}


}  // namespace

Regional backend::LoadRegional() {
  Regional result;
  const std::u16string dateSeparator = LocaleText(LOCALE_SDATE);
  const std::u16string timeSeparator = LocaleText(LOCALE_STIME);
  const std::u16string date = Translate(LocaleText(LOCALE_SSHORTDATE), dateSeparator, u'/');
  const std::u16string time = Translate(LocaleText(LOCALE_STIMEFORMAT), timeSeparator, u':');
  if (date.find(u'd') == std::u16string::npos || time.find(u'h') == std::u16string::npos) return result;
  if (dateSeparator.size() == 1) result.dateSeparator = dateSeparator[0];
  if (timeSeparator.size() == 1) result.timeSeparator = timeSeparator[0];
  result.shortDateFormat = date;
  result.longTimeFormat = time;
  return result;
}

std::tm backend::LocalParts(std::time_t t) {
  std::tm tm{};
  localtime_s(&tm, &t);
  return tm;
}

std::tm UtcParts(std::time_t t) {
  std::tm tm{};
  gmtime_s(&tm, &t);
  return tm;
}

}  // namespace tav
