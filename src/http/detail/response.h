// The response record and how it goes on the wire: the header in one buffered
// write, the content in a second.
#pragma once

#include <cstdint>
#include <ctime>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "http/detail/request.h"

namespace tav::http {

// Where response bytes go. `more` says that another write follows at once.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Throws ConnectionError when the peer is gone.
  virtual void Write(std::string_view bytes, bool more) = 0;
  // Sends whatever a `more` write left waiting.
  virtual void Flush() {}
};

// The connection itself failed: nothing more is written on it.
class ConnectionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class StringSink : public ByteSink {
 public:
  void Write(std::string_view bytes, bool) override { data.append(bytes); }
  std::string data;
};

struct ResponseRecord {
  std::int32_t status = 200;
  std::string reason = "OK";
  std::u16string contentType;  // media type and parameters other than charset
  std::string charset;
  std::u16string content;
  std::int64_t contentLength = -1;  // -1: computed when the header is written
  bool close = true;
  std::vector<std::string> authenticate;
  bool headerWritten = false;
  std::string encodedContent;  // the content as the header counted it, reused by the content write

  void SetStatus(std::int32_t code);
  // Splits a charset parameter off; an empty text clears both.
  void SetContentType(std::u16string_view value);
};

const char *ReasonText(std::int32_t status);

// Header writing: defaults the content type, computes the length, stamps the date
// (`now`), and writes everything in one call to the sink. Throws std::logic_error
// when the header was written already.
void WriteHeader(ResponseRecord &response, ByteSink &sink, std::time_t now);
// Writes the header if needed, then the content unless the method is HEAD or the
// status is 1xx, 204 or 304; clears the content text.
void WriteContent(ResponseRecord &response, MethodKind kind, ByteSink &sink, std::time_t now);

}  // namespace tav::http
