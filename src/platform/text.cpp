#include "platform/text.h"

#include <unicode/normalizer2.h>
#include <unicode/ucnv.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf16.h>
#include <unicode/ustring.h>

#include <array>
#include <stdexcept>

namespace tav::text {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

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

// Walks code points; a lone surrogate comes back as itself (0xD800..0xDFFF).
template <typename F>
void ForEachCodePoint(std::u16string_view text, F &&f) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (U16_IS_LEAD(c) && i + 1 < text.size() && U16_IS_TRAIL(text[i + 1])) {
      c = U16_GET_SUPPLEMENTARY(c, text[i + 1]);
      ++i;
    }
    f(c);
  }
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

enum class Kind { Latin1, Ascii, Utf8, Cp1252, Icu };

struct CharsetEntry {
  std::string_view canonical;
  Kind kind;
  const char *icuName;
  std::initializer_list<std::string_view> aliases;
};

// The registry's names and aliases of the charsets we support, plus "ASCII".
const std::array<CharsetEntry, 17> &Charsets() {
  static const std::array<CharsetEntry, 17> table = {{
      {"UTF-8", Kind::Utf8, "UTF-8", {"csUTF8"}},
      {"US-ASCII", Kind::Ascii, "US-ASCII",
       {"iso-ir-6", "ANSI_X3.4-1968", "ANSI_X3.4-1986", "ISO_646.irv:1991", "ISO646-US", "us",
        "IBM367", "cp367", "csASCII", "ASCII"}},
      {"ISO-8859-1", Kind::Latin1, "ISO-8859-1",
       {"ISO_8859-1:1987", "iso-ir-100", "ISO_8859-1", "latin1", "l1", "IBM819", "CP819",
        "csISOLatin1"}},
      {"ISO-8859-2", Kind::Icu, "ISO-8859-2",
       {"ISO_8859-2:1987", "iso-ir-101", "ISO_8859-2", "latin2", "l2", "csISOLatin2"}},
      {"ISO-8859-15", Kind::Icu, "ISO-8859-15", {"ISO_8859-15", "Latin-9", "csISO885915"}},
      {"windows-1250", Kind::Icu, "windows-1250", {"cswindows1250"}},
      {"windows-1251", Kind::Icu, "windows-1251", {"cswindows1251"}},
      {"windows-1252", Kind::Cp1252, "windows-1252", {"cswindows1252"}},
      {"windows-1253", Kind::Icu, "windows-1253", {"cswindows1253"}},
      {"windows-1254", Kind::Icu, "windows-1254", {"cswindows1254"}},
      {"UTF-16", Kind::Icu, "UTF-16", {"csUTF16"}},
      {"UTF-16BE", Kind::Icu, "UTF-16BE", {"csUTF16BE"}},
      {"UTF-16LE", Kind::Icu, "UTF-16LE", {"csUTF16LE"}},
      {"UTF-32", Kind::Icu, "UTF-32", {"csUTF32"}},
      {"IBM850", Kind::Icu, "ibm-850", {"cp850", "850", "csPC850Multilingual"}},
      {"IBM437", Kind::Icu, "ibm-437", {"cp437", "437", "csPC8CodePage437"}},
      {"KOI8-R", Kind::Icu, "KOI8-R", {"csKOI8R"}},
  }};
  return table;
}

const CharsetEntry *FindCharset(std::string_view name) {
  if (name.empty()) return nullptr;
  for (const auto &entry : Charsets()) {
    if (EqualsNoCaseAscii(entry.canonical, name)) return &entry;
    for (auto alias : entry.aliases)
      if (EqualsNoCaseAscii(alias, name)) return &entry;
  }
  return nullptr;
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

std::u16string IcuDecode(std::string_view bytes, const char *name) {
  Converter converter = OpenConverter(name);
  if (!converter) return FromLatin1(bytes);
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
  if (U_FAILURE(status)) return FromLatin1(bytes);
  out.resize(static_cast<std::size_t>(length));
  return out;
}

std::string IcuEncode(std::u16string_view text, const char *name) {
  Converter converter = OpenConverter(name);
  if (!converter) return Encode(text, "");
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
  if (U_FAILURE(status)) return Encode(text, "");
  out.resize(static_cast<std::size_t>(length));
  return out;
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
char16_t LowerAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

}  // namespace

std::u16string FromUtf8(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  const auto *b = reinterpret_cast<const unsigned char *>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char c = b[i];
    if (c < 0x80) {
      out.push_back(c);
      ++i;
      continue;
    }
    // Lead byte: how many continuation bytes follow and the range of the first one
    // (the ranges exclude overlong forms, surrogates and values above U+10FFFF).
    int need = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    char32_t cp = 0;
    if (c >= 0xC2 && c <= 0xDF) { need = 1; cp = c & 0x1F; }
    else if (c == 0xE0) { need = 2; cp = c & 0x0F; lo = 0xA0; }
    else if (c == 0xED) { need = 2; cp = c & 0x0F; hi = 0x9F; }
    else if (c >= 0xE1 && c <= 0xEF) { need = 2; cp = c & 0x0F; }
    else if (c == 0xF0) { need = 3; cp = c & 0x07; lo = 0x90; }
    else if (c == 0xF4) { need = 3; cp = c & 0x07; hi = 0x8F; }
    else if (c >= 0xF1 && c <= 0xF3) { need = 3; cp = c & 0x07; }
    std::size_t j = i + 1;
    int got = 0;
    while (need > 0 && got < need && j < n) {
      const unsigned char first_lo = got == 0 ? lo : 0x80, first_hi = got == 0 ? hi : 0xBF;
      if (b[j] < first_lo || b[j] > first_hi) break;
      cp = (cp << 6) | (b[j] & 0x3F);
      ++j;
      ++got;
    }
    // One U+FFFD for each maximal invalid subpart.
    if (need == 0 || got != need) {
      out.push_back(kReplacement);
      i = j;
      continue;
    }
    if (cp >= 0x10000) {
      out.push_back(static_cast<char16_t>(U16_LEAD(cp)));
      out.push_back(static_cast<char16_t>(U16_TRAIL(cp)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i = j;
  }
  return out;
}

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  ForEachCodePoint(text, [&](char32_t c) {
    if (c >= 0xD800 && c <= 0xDFFF) c = kReplacement;
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  });
  return out;
}

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

std::u16string FromLatin1(std::string_view bytes) {
  std::u16string out(bytes.size(), u'\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) out[i] = static_cast<unsigned char>(bytes[i]);
  return out;
}

std::string ToAsciiBestFit(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  ForEachCodePoint(text, [&](char32_t c) { out.push_back(AsciiLookAlike(c)); });
  return out;
}

std::string CanonicalCharset(std::string_view charset) {
  const CharsetEntry *entry = FindCharset(charset);
  return entry ? std::string(entry->canonical) : std::string();
}

std::u16string Decode(std::string_view bytes, std::string_view charset) {
  const CharsetEntry *entry = FindCharset(charset);
  if (entry == nullptr) return FromLatin1(bytes);
  switch (entry->kind) {
    case Kind::Utf8: return FromUtf8(bytes);
    case Kind::Ascii: {
      std::u16string out(bytes.size(), u'\0');
      for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        out[i] = b < 0x80 ? b : kReplacement;
      }
      return out;
    }
    case Kind::Latin1: return FromLatin1(bytes);
    case Kind::Cp1252: return FromAnsi(bytes);
    case Kind::Icu: return IcuDecode(bytes, entry->icuName);
  }
  return FromLatin1(bytes);
}

std::string Encode(std::u16string_view text, std::string_view charset) {
  const CharsetEntry *entry = FindCharset(charset);
  const Kind kind = entry ? entry->kind : Kind::Latin1;
  switch (kind) {
    case Kind::Utf8: return ToUtf8(text);
    case Kind::Ascii:
    case Kind::Latin1: {
      const char16_t limit = kind == Kind::Ascii ? 0x80 : 0x100;
      std::string out;
      out.reserve(text.size());
      ForEachCodePoint(text, [&](char32_t c) { out.push_back(c < limit ? static_cast<char>(c) : '?'); });
      return out;
    }
    case Kind::Cp1252: return ToAnsi(text);
    case Kind::Icu: return IcuEncode(text, entry->icuName);
  }
  return {};
}

bool EqualsNoCaseAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

bool EqualsNoCaseAscii(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
  UErrorCode status = U_ZERO_ERROR;
  return u_strCaseCompare(a.data(), static_cast<int32_t>(a.size()), b.data(), static_cast<int32_t>(b.size()),
                          U_FOLD_CASE_DEFAULT, &status) == 0 &&
         U_SUCCESS(status);
}

std::string UpperAscii(std::string_view text) {
  std::string out(text);
  for (char &c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return out;
}

std::u16string UpperAscii(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t &c : out)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
  return out;
}

std::string_view Trim(std::string_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
  return text.substr(b, e - b);
}

std::u16string_view Trim(std::u16string_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && text[b] <= u' ') ++b;
  while (e > b && text[e - 1] <= u' ') --e;
  return text.substr(b, e - b);
}

std::u16string Ascii(std::string_view ascii) { return FromLatin1(ascii); }

}  // namespace tav::text
