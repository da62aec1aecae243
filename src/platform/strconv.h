// Integer reading in the notation the system uses for ports, versions and lengths.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tav {

// Leading blanks are skipped, one "+" or "-" is accepted, and the digits are
// decimal, or hexadecimal when introduced by "$", "x" or "0x" (x in either case).
// Anything else, the empty text included, or a value outside [min, max] gives nullopt.
std::optional<std::int64_t> ParseInteger(std::string_view text, std::int64_t min, std::int64_t max);
std::optional<std::int64_t> ParseInteger(std::u16string_view text, std::int64_t min, std::int64_t max);

// A whole-number setting `key` whose text is `text`: a blank text leaves it alone;
// a number in [min, max] goes to apply(number); anything else is named in
// `problems` (when given) as KEY='text', after a ", " when it holds one already.
template <typename Apply>
void ReadWholeSetting(std::u16string_view key, const std::u16string &text, std::int64_t min, std::int64_t max,
                      Apply apply, std::u16string *problems) {
  if (text.find_first_not_of(u' ') == std::u16string::npos) return;
  if (const auto number = ParseInteger(text, min, max)) {
    apply(*number);
  } else if (problems != nullptr) {
    if (!problems->empty()) *problems += u", ";
    *problems += std::u16string(key) + u"='" + text + u"'";
  }
}

// The value of a hexadecimal digit (either case), or -1.
constexpr int HexDigitValue(char32_t c) {
  if (c >= U'0' && c <= U'9') return static_cast<int>(c - U'0');
  if (c >= U'a' && c <= U'f') return static_cast<int>(c - U'a' + 10);
  if (c >= U'A' && c <= U'F') return static_cast<int>(c - U'A' + 10);
  return -1;
}

}  // namespace tav
