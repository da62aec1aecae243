// The request reader over arbitrary bytes, fed in two pieces as a socket would.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "http/request_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view all(reinterpret_cast<const char *>(data + 1), size - 1);
  const std::size_t split = data[0] % (all.size() + 1);
  tav::http::Limits limits;
  limits.maxLine = 256;
  limits.maxHeaderLines = 16;
  limits.maxBody = 4096;
  tav::http::RequestReader reader(limits);
  std::string_view seen = all.substr(0, split);
  bool closed = false;
  for (int steps = 0; steps < 64; ++steps) {
    auto outcome = reader.Next(seen, closed);
    if (std::holds_alternative<tav::http::SendInterim>(outcome)) {
      reader.InterimSent();
    } else if (std::holds_alternative<tav::http::Probe>(outcome)) {
      reader.ProbeDone();
    } else if (std::holds_alternative<tav::http::NeedMore>(outcome)) {
      if (seen.size() == all.size()) closed = true;
      seen = all;
    } else {
      break;
    }
  }
  return 0;
}
