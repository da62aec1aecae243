// Reading INI files by the private-profile rules the configuration relies on.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tav {

class IniFile {
 public:
  // Parses file bytes: UTF-16 when they begin with a byte-order mark, else Windows-1252.
  static IniFile FromBytes(std::string_view bytes);
  // nullopt when the file cannot be read (the name resolves without regard to case).
  static std::optional<IniFile> Load(std::u16string_view path);

  // The first section whose name equals `section` and, in it, the first key equal
  // to `key` (both without regard to case). The value after the first "=", blanks
  // trimmed, one matching pair of quotes removed, cut to 2047 characters.
  std::u16string Get(std::u16string_view section, std::u16string_view key, std::u16string_view fallback) const;

 private:
  std::u16string text_;
};

// One value with the defaults for a missing section, key or unreadable file.
std::u16string ReadIniString(std::u16string_view path, std::u16string_view section, std::u16string_view key,
                             std::u16string_view fallback);

}  // namespace tav
