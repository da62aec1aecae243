// Length-prefixed UTF-16 strings shared by the host and the business library: the
// system's COM strings on Windows; on Linux our own with the same layout,
// [uint32 byte length][UTF-16 units][char16_t 0] from malloc, the BSTR pointing
// just past the length. A null BSTR is the empty text. Header-only, so that the
// business library and test fixtures need nothing else to link (oleaut32 on Windows).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

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

namespace tav {

// Empty text travels as a null BSTR.
inline BSTR AllocBstr(std::u16string_view text) {
  if (text.empty()) return nullptr;
  return SysAllocStringLen(text.data(), static_cast<std::uint32_t>(text.size()));
}

inline std::u16string BstrToText(BSTR text) {
  return text == nullptr ? std::u16string{} : std::u16string(reinterpret_cast<const char16_t *>(text), SysStringLen(text));
}

// Owns one BSTR; frees it with SysFreeString.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(std::u16string_view text) : value_(AllocBstr(text)) {}
  Bstr(const Bstr &) = delete;
  Bstr &operator=(const Bstr &) = delete;
  Bstr(Bstr &&other) noexcept : value_(std::exchange(other.value_, nullptr)) {}
  Bstr &operator=(Bstr &&other) noexcept {
    if (this != &other) {
      SysFreeString(value_);
      value_ = std::exchange(other.value_, nullptr);
    }
    return *this;
  }
  ~Bstr() { SysFreeString(value_); }

  BSTR get() const noexcept { return value_; }
  // Address for an out argument; frees what was held first.
  BSTR *out() noexcept {
    SysFreeString(value_);
    value_ = nullptr;
    return &value_;
  }
  std::u16string text() const { return BstrToText(value_); }

 private:
  BSTR value_ = nullptr;
};

}  // namespace tav
