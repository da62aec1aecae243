// What text conversion asks of the system, one implementation per platform:
// text_icu.cpp (ICU, Linux) and text_win.cpp (Windows code pages). Internal to
// the platform layer; text.h is the public side.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tav::text::backend {

// A charset of the table by its ICU name and its Windows code page; nullopt when
// the system cannot convert it.
std::optional<std::u16string> DecodeCodePage(std::string_view bytes, const char *icuName, unsigned codePage);
std::optional<std::string> EncodeCodePage(std::u16string_view text, const char *icuName, unsigned codePage);

// Walks code points; a lone surrogate comes back as itself (0xD800..0xDFFF).
template <typename F>
void ForEachCodePoint(std::u16string_view text, F &&f) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    f(c);
  }
}

}  // namespace tav::text::backend
