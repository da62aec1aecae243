// Text conversion on Windows: the system's code pages. "ANSI" is the active code
// page (CP_ACP); the ASCII form is code page 20127 with the default flags, which
// lets Windows choose its best-fit look-alikes.
#include <windows.h>

#include "platform/text.h"
#include "platform/detail/text_backend.h"
#include "platform/win_util.h"

namespace tav::text {
namespace {

using win::Wide;

std::optional<std::u16string> FromCodePage(std::string_view bytes, UINT codePage) {
  if (bytes.empty()) return std::u16string();
  const int size = static_cast<int>(bytes.size());
  const int n = MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
  if (n <= 0) return std::nullopt;
  std::u16string out(static_cast<std::size_t>(n), u'\0');
  MultiByteToWideChar(codePage, 0, bytes.data(), size, reinterpret_cast<wchar_t *>(out.data()), n);
  return out;
}

// Characters the code page lacks become "?" (its default character may differ).
std::optional<std::string> ToCodePage(std::u16string_view text, UINT codePage) {
  if (text.empty()) return std::string();
  const int size = static_cast<int>(text.size());
  const bool takesDefault = codePage != CP_UTF8 && codePage != 54936;
  const char *fallback = takesDefault ? "?" : nullptr;
  const int n = WideCharToMultiByte(codePage, 0, Wide(text.data()), size, nullptr, 0, fallback, nullptr);
  if (n <= 0) return std::nullopt;
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(codePage, 0, Wide(text.data()), size, out.data(), n, fallback, nullptr);
  return out;
}

// UTF-16 and UTF-32 are not code pages that MultiByteToWideChar takes.
std::u16string FromUtf16(std::string_view bytes, bool bigEndian, bool detectMark) {
  std::size_t i = 0;
  if (detectMark && bytes.size() >= 2) {
    const auto b0 = static_cast<unsigned char>(bytes[0]), b1 = static_cast<unsigned char>(bytes[1]);
    if (b0 == 0xFE && b1 == 0xFF) bigEndian = true, i = 2;
    else if (b0 == 0xFF && b1 == 0xFE) bigEndian = false, i = 2;
  }
  std::u16string out;
  for (; i + 1 < bytes.size(); i += 2) {
    const auto hi = static_cast<unsigned char>(bytes[bigEndian ? i : i + 1]);
    const auto lo = static_cast<unsigned char>(bytes[bigEndian ? i + 1 : i]);
    out.push_back(static_cast<char16_t>(hi << 8 | lo));
  }
  if (i < bytes.size()) out.push_back(0xFFFD);
  return out;
}

std::string ToUtf16(std::u16string_view text, bool bigEndian) {
  std::string out;
  for (char16_t c : text) {
    const char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c & 0xFF);
    out.push_back(bigEndian ? hi : lo);
    out.push_back(bigEndian ? lo : hi);
  }
  return out;
}

std::u16string FromUtf32(std::string_view bytes) {
  std::u16string out;
  for (std::size_t i = 0; i + 3 < bytes.size(); i += 4) {
    char32_t c = 0;
    for (std::size_t k = 0; k < 4; ++k) c = c << 8 | static_cast<unsigned char>(bytes[i + k]);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

std::string ToUtf32(std::u16string_view text) {
  std::string out;
  backend::ForEachCodePoint(text, [&](char32_t c) {
    if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((c >> shift) & 0xFF));
  });
  return out;
}

}  // namespace

namespace backend {

std::optional<std::u16string> DecodeCodePage(std::string_view bytes, const char *icuName, unsigned codePage) {
  const std::string_view name = icuName;
  if (codePage == 1200) return FromUtf16(bytes, false, false);
  if (codePage == 1201) return FromUtf16(bytes, true, name == "UTF-16");
  if (codePage == 12001) return FromUtf32(bytes);
  return FromCodePage(bytes, codePage);
}

std::optional<std::string> EncodeCodePage(std::u16string_view text, const char *icuName, unsigned codePage) {
  (void)icuName;
  if (codePage == 1200) return ToUtf16(text, false);
  if (codePage == 1201) return ToUtf16(text, true);
  if (codePage == 12001) return ToUtf32(text);
  return ToCodePage(text, codePage);
}

}  // namespace backend

std::string ToAnsi(std::u16string_view text) { return ToCodePage(text, CP_ACP).value_or(std::string()); }

std::u16string FromAnsi(std::string_view bytes) {
  auto text = FromCodePage(bytes, CP_ACP);
  return text ? std::move(*text) : FromLatin1(bytes);
}

std::string ToAsciiBestFit(std::u16string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int n = WideCharToMultiByte(20127, 0, Wide(text.data()), size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string(text.size(), '?');
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(20127, 0, Wide(text.data()), size, out.data(), n, nullptr, nullptr);
  return out;
}

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
  return CompareStringOrdinal(Wide(a.data()), static_cast<int>(a.size()), Wide(b.data()), static_cast<int>(b.size()),
                              TRUE) == CSTR_EQUAL;
}

}  // namespace tav::text
