// The positional JSON reader over arbitrary text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "messaging/json_reader.h"
#include "platform/errors.h"
#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::u16string body = tav::text::FromUtf8(std::string(reinterpret_cast<const char *>(data), size));
  try {
    const auto request = tav::messaging::LeRequisicaoJSon(body);
    for (std::size_t i = 0; i < 3; ++i) (void)tav::messaging::TextoDoCampo(request, i);
  } catch (const tav::Error &) {
  }
  return 0;
}
