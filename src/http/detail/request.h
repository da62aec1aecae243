// The request record filled by the request reader, and the two lookups shared
// with the web layer: header lookup and the content-type split.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tav::http {

enum class MethodKind { Unknown, Head, Get, Post, Delete, Put, Trace, Options };

struct RequestRecord {
  std::string method;          // upper-cased; an override replaces POST
  MethodKind kind = MethodKind::Unknown;
  std::string version;         // "HTTP/1.1"
  int versionMajor = -1;
  int versionMinor = -1;
  std::u16string target;       // between the first and the last blank of the request line
  std::u16string rawQuery;     // after the first "?", undecoded
  std::u16string path;         // percent-decoded
  std::string host;
  std::vector<std::string> headers;  // every header line as received (bytes)
  std::string contentType;
  std::string charset;
  std::optional<std::int64_t> contentLength;
  std::string transferEncoding;
  std::optional<std::string> body;   // absent when unframed, or moved to the form text
  std::u16string formText;           // form body, byte b as U+00b
  std::u16string unparsedParams;     // form text and raw query joined by "&"
};

// Bytes of a line as text: ASCII, every byte from 0x80 up is U+FFFD.
std::u16string DecodeLine(std::string_view bytes);

// The value of the first header line named `name` (without regard to case; the
// name is the untrimmed text before the first ":"), with continuation lines
// appended after one blank; empty when there is none.
std::string HeaderValue(const std::vector<std::string> &headers, std::string_view name);

// Splits a "charset" parameter off a content type. Without one, "text/*" gets
// "ISO-8859-1" ("us-ascii" for xml subtypes); anything else an empty charset.
struct ContentTypeParts {
  std::string contentType;
  std::string charset;
};
ContentTypeParts SplitContentType(std::string_view value);

MethodKind KindOf(std::string_view method);

}  // namespace tav::http
