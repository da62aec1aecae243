#include "http/detail/query.h"

#include <string>

#include "platform/errors.h"
#include "platform/strconv.h"
#include "platform/text.h"

namespace tav::http {

std::vector<std::u16string> SplitQuery(std::u16string_view s) {
  std::vector<std::u16string> fields;
  std::size_t cursor = 0;
  const std::size_t n = s.size();
  for (;;) {
    while (cursor < n && (s[cursor] == u'\r' || s[cursor] == u'\n')) ++cursor;
    const std::size_t start = cursor;
    std::u16string field;
    if (cursor < n && s[cursor] == u'"') {
      const std::size_t close = s.find(u'"', cursor + 1);
      cursor = close == std::u16string_view::npos ? n : close;
      field = std::u16string(s.substr(start + 1, cursor - start - 1));
    } else {
      while (cursor < n && s[cursor] != u'&' && s[cursor] != u'\r' && s[cursor] != u'\n' && s[cursor] != u'"')
        ++cursor;
      if (cursor < n && s[cursor] == u'"') {
        const std::size_t close = s.find(u'"', cursor + 1);
        cursor = close == std::u16string_view::npos ? n : close + 1;
      }
      field = std::u16string(s.substr(start, cursor - start));
    }
    if (start < n) fields.push_back(std::move(field));
    if (cursor >= n) break;
    ++cursor;
  }
  return fields;
}

std::u16string DecodeQueryField(std::u16string_view field) {
  std::string bytes;
  bytes.reserve(field.size());
  for (std::size_t i = 0; i < field.size(); ++i) {
    const char16_t c = field[i];
    if (c == u'+') {
      bytes.push_back(' ');
    } else if (c == u'%') {
      if (i + 1 < field.size() && field[i + 1] == u'%') {
        bytes.push_back('%');
        ++i;
      } else if (i + 2 >= field.size()) {
        throw Error("Error decoding URL style (%XX) encoded string at position " + std::to_string(i + 1));
      } else if (HexDigitValue(field[i + 1]) < 0 || HexDigitValue(field[i + 2]) < 0) {
        throw Error(u"Invalid URL encoded character (" + std::u16string(field.substr(i, 3)) + u") at position " +
                    text::Ascii(std::to_string(i + 1)));
      } else {
        bytes.push_back(static_cast<char>(HexDigitValue(field[i + 1]) * 16 + HexDigitValue(field[i + 2])));
        i += 2;
      }
    } else if (c < 0x80) {
      bytes.push_back(static_cast<char>(c));
    } else {
      bytes += text::ToUtf8(field.substr(i, 1));
    }
  }
  return text::FromUtf8(bytes);
}

}  // namespace tav::http
