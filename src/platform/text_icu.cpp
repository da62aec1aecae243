// Text conversion on Linux: ICU for code pages, accent folding and case folding;
// "ANSI" is Windows-1252, always.
#include <unicode/normalizer2.h>
#include <unicode/ucnv.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>

#include <array>
#include <memory>

#include "platform/text.h"
#include "platform/detail/text_backend.h"

namespace tav::text {
namespace {

using backend::ForEachCodePoint;

// Windows-1252 bytes 0x80..0x9F; 0 marks the five unassigned bytes.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

int Cp1252Byte(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<int>(c);
  for (std::size_t i = 0; i < kCp1252High.size(); ++i)
    if (kCp1252High[i] != 0 && kCp1252High[i] == c) return static_cast<int>(0x80 + i);
  return -1;
}

// Letters that accent folding misses, and punctuation look-alikes.
char BestFitExtra(char32_t c) {
  switch (c) {
    case 0x00DF: return 's';  // ß
    case 0x00E6: return 'a';  // æ
    case 0x00C6: return 'A';
    case 0x00F8: return 'o';  // ø
    case 0x00D8: return 'O';
    case 0x0111: return 'd';  // đ
    case 0x0110: return 'D';
    case 0x0142: return 'l';  // ł
    case 0x0141: return 'L';
    case 0x0131: return 'i';  // ı
    case 0x0127: return 'h';  // ħ
    case 0x0126: return 'H';
    case 0x0167: return 't';  // ŧ
    case 0x0166: return 'T';
    case 0x0153: return 'o';  // œ
    case 0x0152: return 'O';
    case 0x00F0: return 'd';  // ð
    case 0x00D0: return 'D';
    case 0x00FE: return 't';  // þ
    case 0x00DE: return 'T';
    case 0x00A0: return ' ';
    case 0x00AB: case 0x2039: return '<';
    case 0x00BB: case 0x203A: return '>';
    case 0x00B4: case 0x2018: case 0x2019: case 0x201A: case 0x2032: return '\'';
    case 0x201C: case 0x201D: case 0x201E: case 0x2033: return '"';
    case 0x2010: case 0x2011: case 0x2012: case 0x2013: case 0x2014: case 0x2212: return '-';
    case 0x2022: case 0x00B7: return '.';
    case 0x02C6: return '^';
    case 0x02DC: return '~';
    case 0x00A9: return 'c';
    case 0x00AE: return 'R';
    case 0x00A6: return '|';
    case 0x00B8: return ',';
    default: return 0;
  }
}

char AsciiLookAlike(char32_t c) {
  if (c < 0x80) return static_cast<char>(c);
  if (char extra = BestFitExtra(c)) return extra;
  if (c >= 0xD800 && c <= 0xDFFF) return '?';
  // Canonical decomposition; keep the character only if what is left after
  // dropping combining marks is one ASCII character.
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2 *nfd = icu::Normalizer2::getNFDInstance(status);
  if (U_FAILURE(status)) return '?';
  icu::UnicodeString decomposed;
  if (!nfd->getDecomposition(static_cast<UChar32>(c), decomposed)) return '?';
  char result = 0;
  for (int32_t i = 0; i < decomposed.length(); ++i) {
    const char16_t unit = decomposed.charAt(i);
    if (u_getCombiningClass(unit) != 0 || u_charType(unit) == U_NON_SPACING_MARK) continue;
    if (unit >= 0x80 || result != 0) return '?';
    result = static_cast<char>(unit);
  }
  return result != 0 ? result : '?';
}


struct ConverterCloser {
  void operator()(UConverter *c) const noexcept { ucnv_close(c); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

Converter OpenConverter(const char *name) {
  UErrorCode status = U_ZERO_ERROR;
  Converter converter(ucnv_open(name, &status));
  if (U_FAILURE(status)) return nullptr;
  // "?" for characters the code page lacks (ICU's own default, 0x1A, is a control character).
  status = U_ZERO_ERROR;
  ucnv_setSubstChars(converter.get(), "?", 1, &status);
  return converter;
}

std::optional<std::u16string> IcuDecode(std::string_view bytes, const char *name) {
  Converter converter = OpenConverter(name);
  if (!converter) return std::nullopt;
  std::u16string out(bytes.size() * 2 + 4, u'\0');
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = ucnv_toUChars(converter.get(), out.data(), static_cast<int32_t>(out.size()),
                                 bytes.data(), static_cast<int32_t>(bytes.size()), &status);
  if (status == U_BUFFER_OVERFLOW_ERROR) {
    out.resize(static_cast<std::size_t>(length) + 1);
    status = U_ZERO_ERROR;
    length = ucnv_toUChars(converter.get(), out.data(), static_cast<int32_t>(out.size()), bytes.data(),
                           static_cast<int32_t>(bytes.size()), &status);
  }
  if (U_FAILURE(status)) return std::nullopt;
  out.resize(static_cast<std::size_t>(length));
  return out;
}

std::optional<std::string> IcuEncode(std::u16string_view text, const char *name) {
  Converter converter = OpenConverter(name);
  if (!converter) return std::nullopt;
  std::string out(text.size() * 4 + 8, '\0');
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = ucnv_fromUChars(converter.get(), out.data(), static_cast<int32_t>(out.size()), text.data(),
                                   static_cast<int32_t>(text.size()), &status);
  if (status == U_BUFFER_OVERFLOW_ERROR) {
    out.resize(static_cast<std::size_t>(length) + 1);
    status = U_ZERO_ERROR;
    length = ucnv_fromUChars(converter.get(), out.data(), static_cast<int32_t>(out.size()), text.data(),
                             static_cast<int32_t>(text.size()), &status);
  }
  if (U_FAILURE(status)) return std::nullopt;
  out.resize(static_cast<std::size_t>(length));
  return out;
}

}  // namespace

namespace backend {

std::optional<std::u16string> DecodeCodePage(std::string_view bytes, const char *icuName, unsigned codePage) {
  if (codePage == 1252) return FromAnsi(bytes);
  return IcuDecode(bytes, icuName);
}

std::optional<std::string> EncodeCodePage(std::u16string_view text, const char *icuName, unsigned codePage) {
  if (codePage == 1252) return ToAnsi(text);
  return IcuEncode(text, icuName);
}

}  // namespace backend

std::string ToAnsi(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  ForEachCodePoint(text, [&](char32_t c) {
    const int b = Cp1252Byte(c);
    out.push_back(b >= 0 ? static_cast<char>(b) : '?');
  });
  return out;
}

std::u16string FromAnsi(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  for (unsigned char b : bytes) {
    if (b >= 0x80 && b <= 0x9F) {
      const char16_t c = kCp1252High[b - 0x80];
      out.push_back(c != 0 ? c : static_cast<char16_t>(b));  // unassigned: as Windows does
    } else {
      out.push_back(b);
    }
  }
  return out;
}

std::string ToAsciiBestFit(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  ForEachCodePoint(text, [&](char32_t c) { out.push_back(AsciiLookAlike(c)); });
  return out;
}

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
  UErrorCode status = U_ZERO_ERROR;
  return u_strCaseCompare(a.data(), static_cast<int32_t>(a.size()), b.data(), static_cast<int32_t>(b.size()),
                          U_FOLD_CASE_DEFAULT, &status) == 0 &&
         U_SUCCESS(status);
}

}  // namespace tav::text
