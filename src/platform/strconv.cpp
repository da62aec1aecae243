#include "platform/strconv.h"

#include <string>

namespace tav {

std::optional<std::int64_t> ParseInteger(std::string_view text, std::int64_t min, std::int64_t max) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  unsigned base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i < text.size() && (text[i] == 'x' || text[i] == 'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) return std::nullopt;
  unsigned __int128 value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    unsigned digit;
    if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
    else if (base == 16 && c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
    else if (base == 16 && c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
    else return std::nullopt;
    value = value * base + digit;
    if (value > (static_cast<unsigned __int128>(1) << 64)) return std::nullopt;
  }
  const __int128 signedValue = negative ? -static_cast<__int128>(value) : static_cast<__int128>(value);
  if (signedValue < min || signedValue > max) return std::nullopt;
  return static_cast<std::int64_t>(signedValue);
}

std::optional<std::int64_t> ParseInteger(std::u16string_view text, std::int64_t min, std::int64_t max) {
  std::string ascii;
  ascii.reserve(text.size());
  for (char16_t c : text) {
    if (c >= 0x80) return std::nullopt;
    ascii.push_back(static_cast<char>(c));
  }
  return ParseInteger(ascii, min, max);
}

}  // namespace tav
