#include "platform/text.h"

#include <array>
#include <initializer_list>

#include "platform/detail/text_backend.h"

namespace tav::text {
namespace {

using backend::ForEachCodePoint;

constexpr char16_t kReplacement = 0xFFFD;

enum class Kind { Latin1, Ascii, Utf8, CodePage };

struct CharsetEntry {
  std::string_view canonical;
  Kind kind;
  const char *icuName;
  unsigned codePage;  // Windows
  std::initializer_list<std::string_view> aliases;
};

// The registry's names and aliases of the charsets we support, plus "ASCII".
const std::array<CharsetEntry, 17> &Charsets() {
  static const std::array<CharsetEntry, 17> table = {{
      {"UTF-8", Kind::Utf8, "UTF-8", 65001, {"csUTF8"}},
      {"US-ASCII", Kind::Ascii, "US-ASCII", 20127,
       {"iso-ir-6", "ANSI_X3.4-1968", "ANSI_X3.4-1986", "ISO_646.irv:1991", "ISO646-US", "us",
        "IBM367", "cp367", "csASCII", "ASCII"}},
      {"ISO-8859-1", Kind::Latin1, "ISO-8859-1", 28591,
       {"ISO_8859-1:1987", "iso-ir-100", "ISO_8859-1", "latin1", "l1", "IBM819", "CP819",
        "csISOLatin1"}},
      {"ISO-8859-2", Kind::CodePage, "ISO-8859-2", 28592,
       {"ISO_8859-2:1987", "iso-ir-101", "ISO_8859-2", "latin2", "l2", "csISOLatin2"}},
      {"ISO-8859-15", Kind::CodePage, "ISO-8859-15", 28605, {"ISO_8859-15", "Latin-9", "csISO885915"}},
      {"windows-1250", Kind::CodePage, "windows-1250", 1250, {"cswindows1250"}},
      {"windows-1251", Kind::CodePage, "windows-1251", 1251, {"cswindows1251"}},
      {"windows-1252", Kind::CodePage, "windows-1252", 1252, {"cswindows1252"}},
      {"windows-1253", Kind::CodePage, "windows-1253", 1253, {"cswindows1253"}},
      {"windows-1254", Kind::CodePage, "windows-1254", 1254, {"cswindows1254"}},
      {"UTF-16", Kind::CodePage, "UTF-16", 1201, {"csUTF16"}},
      {"UTF-16BE", Kind::CodePage, "UTF-16BE", 1201, {"csUTF16BE"}},
      {"UTF-16LE", Kind::CodePage, "UTF-16LE", 1200, {"csUTF16LE"}},
      {"UTF-32", Kind::CodePage, "UTF-32", 12001, {"csUTF32"}},
      {"IBM850", Kind::CodePage, "ibm-850", 850, {"cp850", "850", "csPC850Multilingual"}},
      {"IBM437", Kind::CodePage, "ibm-437", 437, {"cp437", "437", "csPC8CodePage437"}},
      {"KOI8-R", Kind::CodePage, "KOI8-R", 20866, {"csKOI8R"}},
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
      out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
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

std::u16string FromLatin1(std::string_view bytes) {
  std::u16string out(bytes.size(), u'\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) out[i] = static_cast<unsigned char>(bytes[i]);
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
    case Kind::CodePage: {
      auto decoded = backend::DecodeCodePage(bytes, entry->icuName, entry->codePage);
      return decoded ? std::move(*decoded) : FromLatin1(bytes);
    }
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
    case Kind::CodePage: {
      auto encoded = backend::EncodeCodePage(text, entry->icuName, entry->codePage);
      return encoded ? std::move(*encoded) : Encode(text, "");
    }
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
