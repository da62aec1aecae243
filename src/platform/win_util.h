// Small helpers for code that talks to Windows: the platform layer's Windows
// backends and the Win32 view.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "platform/text.h"

namespace tav::win {

// UTF-16 text as the system's wide characters (both 16 bits here), and back.
inline const wchar_t *Wide(const char16_t *units) { return reinterpret_cast<const wchar_t *>(units); }
inline const wchar_t *Wide(const std::u16string &text) { return Wide(text.c_str()); }
inline std::u16string Text(const wchar_t *text, std::size_t length) {
  return std::u16string(reinterpret_cast<const char16_t *>(text), length);
}

// The system's text for an error code, in UTF-8, without the trailing line break.
inline std::string SystemMessage(DWORD code) {
  wchar_t *buffer = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, reinterpret_cast<wchar_t *>(&buffer), 0, nullptr);
  std::string message = n > 0 ? text::ToUtf8(Text(buffer, n)) : "error " + std::to_string(code);
  if (buffer != nullptr) LocalFree(buffer);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ' ||
                              message.back() == '.'))
    message.pop_back();
  return message;
}

}  // namespace tav::win
