#include "platform/strconv.h"

#include <cstdint>
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
  std::uint64_t value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    unsigned digit;
    if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
    else if (base == 16 && c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
    else if (base == 16 && c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
    else return std::nullopt;
    if (value > (UINT64_MAX - digit) / base) return std::nullopt;  // beyond any 64-bit value
    value = value * base + digit;
  }
  // The magnitude against the bounds, without overflowing a signed type.
  constexpr std::uint64_t kLimit = std::uint64_t{1} << 63;
  std::int64_t result;
  if (negative) {
    if (value > kLimit) return std::nullopt;
    result = value == kLimit ? INT64_MIN : -static_cast<std::int64_t>(value);
  } else {
    if (value >= kLimit) return std::nullopt;
    result = static_cast<std::int64_t>(value);
  }
  if (result < min || result > max) return std::nullopt;
  return result;
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
