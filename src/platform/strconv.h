// Integer reading in the notation the system uses for ports, versions and lengths.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tav {

// Leading blanks are skipped, one "+" or "-" is accepted, and the digits are
// decimal, or hexadecimal when introduced by "$", "x" or "0x" (x in either case).
// Anything else, the empty text included, or a value outside [min, max] gives nullopt.
std::optional<std::int64_t> ParseInteger(std::string_view text, std::int64_t min, std::int64_t max);
std::optional<std::int64_t> ParseInteger(std::u16string_view text, std::int64_t min, std::int64_t max);

// The value of a hexadecimal digit (either case), or -1.
constexpr int HexDigitValue(char32_t c) {
  if (c >= U'0' && c <= U'9') return static_cast<int>(c - U'0');
  if (c >= U'a' && c <= U'f') return static_cast<int>(c - U'a' + 10);
  if (c >= U'A' && c <= U'F') return static_cast<int>(c - U'A' + 10);
  return -1;
}

}  // namespace tav
