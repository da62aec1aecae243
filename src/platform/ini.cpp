#include "platform/ini.h"


#include "platform/files.h"
#include "platform/text.h"

namespace tav {
namespace {

constexpr std::size_t kMaxValue = 2047;

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string_view TrimBlanks(std::u16string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && (IsBlank(s.back()) || s.back() == u'\r')) s.remove_suffix(1);
  return s;
}

}  // namespace

IniFile IniFile::FromBytes(std::string_view bytes) {
  IniFile ini;
  const auto *b = reinterpret_cast<const unsigned char *>(bytes.data());
  if (bytes.size() >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF))) {
    const bool little = b[0] == 0xFF;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
      ini.text_.push_back(static_cast<char16_t>(little ? (b[i] | (b[i + 1] << 8)) : ((b[i] << 8) | b[i + 1])));
  } else if (bytes.size() >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
    ini.text_ = text::FromUtf8(bytes.substr(3));
  } else {
    ini.text_ = text::FromAnsi(bytes);
  }
  return ini;
}

std::optional<IniFile> IniFile::Load(std::u16string_view path) {
  const auto bytes = files::ReadAll(path);
  if (!bytes) return std::nullopt;
  return FromBytes(*bytes);
}

std::u16string IniFile::Get(std::u16string_view section, std::u16string_view key,
                            std::u16string_view fallback) const {
  std::u16string_view rest = text_;
  bool inSection = false;
  bool sectionSeen = false;
  while (!rest.empty()) {
    const std::size_t eol = rest.find(u'\n');
    std::u16string_view line = TrimBlanks(rest.substr(0, eol));
    rest = eol == std::u16string_view::npos ? std::u16string_view{} : rest.substr(eol + 1);
    if (!line.empty() && line.front() == u'[') {
      if (inSection) break;  // only the first matching section counts
      const std::size_t close = line.find(u']');
      const std::u16string_view name = TrimBlanks(line.substr(1, close == std::u16string_view::npos ? line.size() - 1 : close - 1));
      inSection = !sectionSeen && text::EqualsNoCase(name, section);
      sectionSeen = sectionSeen || inSection;
      continue;
    }
    if (!inSection) continue;
    const std::size_t equals = line.find(u'=');
    if (equals == std::u16string_view::npos) continue;
    if (!text::EqualsNoCase(TrimBlanks(line.substr(0, equals)), key)) continue;
    std::u16string_view value = TrimBlanks(line.substr(equals + 1));
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') && value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    if (value.size() > kMaxValue) value = value.substr(0, kMaxValue);
    return std::u16string(value);
  }
  return std::u16string(fallback);
}

std::u16string ReadIniString(std::u16string_view path, std::u16string_view section, std::u16string_view key,
                             std::u16string_view fallback) {
  const auto ini = IniFile::Load(path);
  return ini ? ini->Get(section, key, fallback) : std::u16string(fallback);
}

}  // namespace tav
