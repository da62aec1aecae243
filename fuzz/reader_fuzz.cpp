// The request reader as the connection feeds it: the bytes arrive in up to five
// pieces cut at points the fuzzer chooses (the first four input bytes), and what
// the reader has read is dropped from the buffer after every NeedMore. The limits
// are small, so that every one of them (line, header and trailer lines, framing,
// body) is within reach.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "http/detail/request_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  constexpr std::size_t kCuts = 4;
  if (size < kCuts) return 0;
  const std::string_view all(reinterpret_cast<const char *>(data + kCuts), size - kCuts);
  std::array<std::size_t, kCuts + 1> ends{};
  for (std::size_t i = 0; i < kCuts; ++i) ends[i] = data[i] * all.size() / 255;
  ends[kCuts] = all.size();
  std::sort(ends.begin(), ends.end());

  tav::http::Limits limits;
  limits.maxLine = 256;
  limits.maxHeaderLines = 16;
  limits.maxBody = 4096;
  limits.maxOverhead = 2048;
  tav::http::RequestReader reader(limits);
  std::string buffer;
  std::size_t fed = 0, piece = 0;
  bool closed = false;
  for (int steps = 0; steps < 256; ++steps) {
    auto outcome = reader.Next(buffer, closed);
    if (std::holds_alternative<tav::http::SendInterim>(outcome)) {
      reader.InterimSent();
    } else if (std::holds_alternative<tav::http::Probe>(outcome)) {
      reader.ProbeDone();
    } else if (std::holds_alternative<tav::http::NeedMore>(outcome)) {
      if (reader.BodyBytes() > limits.maxBody) std::abort();
      buffer.erase(0, reader.TakeConsumed());
      if (piece == ends.size()) {
        if (closed) std::abort();  // NeedMore after the peer closed
        closed = true;
        continue;
      }
      buffer.append(all.substr(fed, ends[piece] - fed));
      fed = ends[piece++];
    } else {
      if (const auto *delivered = std::get_if<tav::http::Delivered>(&outcome)) {
        const tav::http::RequestRecord &r = delivered->request;
        if (r.body && r.body->size() > limits.maxBody) std::abort();
        if (r.headers.size() > limits.maxHeaderLines) std::abort();
      }
      break;
    }
  }
  return 0;
}
