#include "platform/datetime.h"
#include "platform/detail/datetime_backend.h"

#include <cstdio>
#include <cstring>

namespace tav {
namespace {

char16_t Lower(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }
bool IsLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

void AppendNumber(std::u16string &out, int value, int digits) {
  std::string s = std::to_string(value);
  while (static_cast<int>(s.size()) < digits) s.insert(s.begin(), '0');
  for (char c : s) out.push_back(static_cast<char16_t>(c));
}

// Translates one strftime pattern; separators are left as written.
std::u16string TranslateStrftime(std::string_view fmt) {
  std::u16string out;
  for (std::size_t i = 0; i < fmt.size(); ++i) {
    if (fmt[i] != '%' || i + 1 >= fmt.size()) {
      out.push_back(static_cast<unsigned char>(fmt[i]));
      continue;
    }
    char c = fmt[++i];
    if (c == 'E' || c == 'O') {  // alternative-representation modifiers
      if (i + 1 >= fmt.size()) break;
      c = fmt[++i];
    }
    switch (c) {
      case 'd': out += u"dd"; break;
      case 'e': out += u"d"; break;
      case 'm': out += u"MM"; break;
      case 'Y': out += u"yyyy"; break;
      case 'y': out += u"yy"; break;
      case 'H': case 'I': out += u"hh"; break;
      case 'k': case 'l': out += u"h"; break;
      case 'M': out += u"nn"; break;
      case 'S': out += u"ss"; break;
      case 'D': out += u"MM/dd/yy"; break;
      case 'F': out += u"yyyy-MM-dd"; break;
      case 'T': case 'r': out += u"hh:nn:ss"; break;
      case 'R': out += u"hh:nn"; break;
      case 'p': case 'P': break;  // the formatter has no AM/PM
      case '%': out.push_back(u'%'); break;
      default: break;
    }
  }
  // Drop blanks left at the ends by removed parts such as %p.
  while (!out.empty() && out.back() == u' ') out.pop_back();
  while (!out.empty() && out.front() == u' ') out.erase(out.begin());
  return out;
}

// The first non-letter between two pattern letters is the separator; it is then
// written as the formatter's own "/" or ":".
void Symbolize(std::u16string &pattern, char16_t symbol, char16_t &separator) {
  for (std::size_t i = 1; i + 1 < pattern.size(); ++i) {
    if (!IsLetter(pattern[i]) && IsLetter(pattern[i - 1])) {
      separator = pattern[i];
      break;
    }
  }
  for (char16_t &c : pattern)
    if (c == separator) c = symbol;
}

}  // namespace

Regional RegionalFromStrftime(std::string_view dateFormat, std::string_view timeFormat) {
  Regional r;
  std::u16string date = TranslateStrftime(dateFormat);
  std::u16string time = TranslateStrftime(timeFormat);
  if (date.find(u'd') == std::u16string::npos || time.find(u'h') == std::u16string::npos) return Regional{};
  Symbolize(date, u'/', r.dateSeparator);
  Symbolize(time, u':', r.timeSeparator);
  r.shortDateFormat = date;
  r.longTimeFormat = time;
  return r;
}

LocalTime ToLocalTime(std::time_t t) {
  const std::tm tm = backend::LocalParts(t);
  return LocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

LocalTime LocalNow() { return ToLocalTime(std::time(nullptr)); }

const Regional &CurrentRegional() {
  static const Regional regional = backend::LoadRegional();
  return regional;
}

std::u16string FormatDateTime(std::u16string_view pattern, const LocalTime &t, const Regional &regional) {
  std::u16string out;
  char16_t lastLetter = 0;  // the last pattern letter seen, to read "m" after an hour as minutes
  std::size_t i = 0;
  while (i < pattern.size()) {
    const char16_t c = pattern[i];
    if (!IsLetter(c)) {
      if (c == u'/') out.push_back(regional.dateSeparator);
      else if (c == u':') out.push_back(regional.timeSeparator);
      else out.push_back(c);
      ++i;
      continue;
    }
    const char16_t letter = Lower(c);
    std::size_t run = 1;
    while (i + run < pattern.size() && Lower(pattern[i + run]) == letter) ++run;
    const int digits = run >= 2 ? 2 : 1;
    switch (letter) {
      case u'd': AppendNumber(out, t.day, digits); break;
      case u'm':
        if (lastLetter == u'h') AppendNumber(out, t.minute, digits);
        else AppendNumber(out, t.month, digits);
        break;
      case u'y':
        if (run >= 3) AppendNumber(out, t.year, 4);
        else AppendNumber(out, t.year % 100, 2);
        break;
      case u'h': AppendNumber(out, t.hour, digits); break;
      case u'n': AppendNumber(out, t.minute, digits); break;
      case u's': AppendNumber(out, t.second, digits); break;
      default: out.append(pattern.substr(i, run)); break;
    }
    lastLetter = letter;
    i += run;
  }
  return out;
}

std::u16string FormatDateTime(std::u16string_view pattern, const LocalTime &t) {
  return FormatDateTime(pattern, t, CurrentRegional());
}

std::string Rfc1123(std::time_t t) {
  // Every response carries one: the text of the last second asked for is kept.
  thread_local std::time_t lastTime = -1;
  thread_local std::string lastText;
  if (t == lastTime) return lastText;
  static constexpr const char *kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char *kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::tm tm = UtcParts(t);
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[tm.tm_wday], tm.tm_mday,
                kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
  lastTime = t;
  lastText = buffer;
  return lastText;
}

}  // namespace tav
