// The three allocation routines of BSTR, per system: oleaut32's on Windows; on
// Linux our own with the same layout, [uint32 byte length][UTF-16 units][char16_t 0]
// from malloc, the BSTR pointing just past the length.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)

// Real COM strings from oleaut32: BSTR is the system's (wchar_t *, 16 bits here).
#include <windows.h>
#include <oleauto.h>

namespace tav {

inline BSTR SysAllocStringLen(const char16_t *units, std::uint32_t length) {
  BSTR text = ::SysAllocStringLen(reinterpret_cast<const OLECHAR *>(units), length);
  if (text != nullptr && units == nullptr && length > 0) std::memset(text, 0, std::size_t{length} * sizeof(OLECHAR));
  return text;
}
inline void SysFreeString(BSTR text) noexcept { ::SysFreeString(text); }
inline std::uint32_t SysStringLen(BSTR text) noexcept { return ::SysStringLen(text); }

}  // namespace tav

#else

typedef char16_t *BSTR;

namespace tav {

inline BSTR SysAllocStringLen(const char16_t *units, std::uint32_t length) {
  const std::size_t bytes = std::size_t{length} * sizeof(char16_t);
  auto *block = static_cast<unsigned char *>(std::malloc(sizeof(std::uint32_t) + bytes + sizeof(char16_t)));
  if (block == nullptr) return nullptr;
  const auto prefix = static_cast<std::uint32_t>(bytes);
  std::memcpy(block, &prefix, sizeof prefix);
  auto *text = reinterpret_cast<char16_t *>(block + sizeof(std::uint32_t));
  if (units != nullptr && length > 0) std::memcpy(text, units, bytes);
  else if (length > 0) std::memset(text, 0, bytes);
  text[length] = u'\0';
  return text;
}

inline void SysFreeString(BSTR text) noexcept {
  if (text != nullptr) std::free(reinterpret_cast<unsigned char *>(text) - sizeof(std::uint32_t));
}

inline std::uint32_t SysStringLen(BSTR text) noexcept {
  if (text == nullptr) return 0;
  std::uint32_t bytes;
  std::memcpy(&bytes, reinterpret_cast<unsigned char *>(text) - sizeof(std::uint32_t), sizeof bytes);
  return bytes / sizeof(char16_t);
}

}  // namespace tav

#endif
