// Query field splitting and URL decoding over arbitrary text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "http/detail/query.h"
#include "platform/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::u16string raw;
  for (std::size_t i = 0; i + 1 < size; i += 2) raw.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  for (const auto &field : tav::http::SplitQuery(raw)) {
    try {
      (void)tav::http::DecodeQueryField(field);
    } catch (const tav::Error &) {
    }
  }
  return 0;
}
