// Length-prefixed UTF-16 strings shared by the host and the business library: the
// system's COM strings on Windows, our own with the same layout on Linux
// (platform/detail/bstr_alloc.h). A null BSTR is the empty text. Header-only, so
// that the business library and test fixtures need nothing else to link
// (oleaut32 on Windows).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "platform/detail/bstr_alloc.h"

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
