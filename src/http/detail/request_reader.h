// Reads one HTTP/1.x request from the bytes of a connection. A pure parser: the
// socket shell feeds it everything received so far and acts on its outcome.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "http/limits.h"
#include "http/detail/request.h"

namespace tav::http {

struct NeedMore {};
struct Closed {};
struct Refused {
  int status = 400;
  std::u16string content;
  std::string authenticate;
};
struct Delivered {
  RequestRecord request;
};
// Write these bytes (the interim "100 Continue"), call InterimSent, go on.
struct SendInterim {
  std::string bytes;
};
// A POST or PUT without framing: wait briefly for body bytes, then ProbeDone.
struct Probe {};

using ReadOutcome = std::variant<NeedMore, Refused, Closed, Delivered, SendInterim, Probe>;

class RequestReader {
 public:
  explicit RequestReader(const Limits &limits = Limits{}) : limits_(limits) {}

  // `data` holds every byte received so far; `peerClosed` says no more will come.
  ReadOutcome Next(std::string_view data, bool peerClosed);
  void InterimSent() { interimDone_ = true; }
  void ProbeDone() { probeDone_ = true; }
  // The method kind once the request line is read (for writing a refusal).
  MethodKind Kind() const { return record_.kind; }
  // Body bytes received so far (not the framing or trailers around them).
  std::size_t BodyBytes() const { return bodyBytes_; }
  // The bytes at the front of `data` that are read and no longer needed (head,
  // chunk framing, trailers, chunks already copied): the caller drops them from
  // its buffer before the next call, so that nothing but the body is kept.
  std::size_t TakeConsumed();

 private:
  enum class Phase { RequestLine, Headers, Decide, FixedBody, ChunkSize, ChunkData, ChunkEnd, Trailers, Finish };
  enum class Line { Ok, Incomplete, TooLong };
  Line TakeLine(std::string_view data, std::string_view &line);
  // The next line, or the outcome when there is none yet (NeedMore) or it is too long (Closed).
  std::optional<ReadOutcome> NextLine(std::string_view data, bool peerClosed, std::string_view &line);
  ReadOutcome Decide(std::string_view data);
  ReadOutcome Finish();

  Limits limits_;
  Phase phase_ = Phase::RequestLine;
  std::size_t pos_ = 0;          // bytes consumed
  std::size_t headerEnd_ = 0;    // offset of the first body byte
  std::size_t overhead_ = 0;     // bytes of lines taken (everything but the body)
  std::size_t extraLines_ = 0;   // trailer lines
  std::size_t bodyBytes_ = 0;
  std::uint64_t chunkLeft_ = 0;
  bool interimDone_ = false;
  bool probeDone_ = false;
  bool decided_ = false;
  RequestRecord record_;
};

}  // namespace tav::http
