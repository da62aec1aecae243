#include "http/detail/request_reader.h"

#include <algorithm>

#include "platform/strconv.h"
#include "platform/text.h"

namespace tav::http {
namespace {

using text::EqualsNoCaseAscii;
using text::Trim;

int HexDigit(char32_t c) { return HexDigitValue(c); }

// Path percent-decoding: "%XX" is a byte, "%uXXXX" a UTF-16 unit as UTF-8 bytes,
// an escape with non-hex digits is dropped with them, every other character gives
// its low byte; the bytes are then read as UTF-8.
std::u16string DecodePath(std::u16string_view uri) {
  std::string bytes;
  bytes.reserve(uri.size());
  std::size_t i = 0;
  while (i < uri.size()) {
    const char16_t c = uri[i];
    if (c != u'%') {
      bytes.push_back(static_cast<char>(c & 0xFF));
      ++i;
      continue;
    }
    if (i + 1 < uri.size() && (uri[i + 1] == u'u' || uri[i + 1] == u'U')) {
      const std::size_t end = std::min(uri.size(), i + 6);
      int unit = 0;
      bool ok = end - i == 6;
      for (std::size_t k = i + 2; ok && k < end; ++k) {
        const int d = HexDigit(uri[k]);
        ok = d >= 0;
        unit = unit * 16 + d;
      }
      if (ok) {
        const char16_t u16 = static_cast<char16_t>(unit);
        bytes += text::ToUtf8(std::u16string_view(&u16, 1));
      }
      i = end;
      continue;
    }
    const std::size_t end = std::min(uri.size(), i + 3);
    if (end - i == 3 && HexDigit(uri[i + 1]) >= 0 && HexDigit(uri[i + 2]) >= 0) {
      bytes.push_back(static_cast<char>(HexDigit(uri[i + 1]) * 16 + HexDigit(uri[i + 2])));
    }
    i = end;
  }
  return text::FromUtf8(bytes);
}

int VersionNumber(std::string_view part) {
  const auto n = ParseInteger(Trim(part), INT32_MIN, INT32_MAX);
  return n ? static_cast<int>(*n) : -1;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char &c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return out;
}

// Reads a chunk size: hexadecimal; anything that is not one counts as 0; a value
// too large to hold is reported as the largest one (and so refused as too long).
std::uint64_t ChunkSize(std::string_view line) {
  const std::size_t semi = line.find(';');
  const std::string_view digits = Trim(line.substr(0, semi));
  if (digits.empty()) return 0;
  std::uint64_t value = 0;
  for (char c : digits) {
    const int d = HexDigit(static_cast<unsigned char>(c));
    if (d < 0) return 0;
    if (value > (UINT64_MAX >> 4)) return UINT64_MAX;
    value = value * 16 + static_cast<unsigned>(d);
  }
  return value;
}

}  // namespace

std::u16string DecodeLine(std::string_view bytes) {
  std::u16string out(bytes.size(), u'\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    out[i] = b < 0x80 ? b : 0xFFFD;
  }
  return out;
}

std::string HeaderValue(const std::vector<std::string> &headers, std::string_view name) {
  for (std::size_t i = 0; i < headers.size(); ++i) {
    const std::string &line = headers[i];
    const std::size_t colon = line.find(':');
    const std::string_view lineName = colon == std::string::npos ? std::string_view{} : std::string_view(line).substr(0, colon);
    if (!EqualsNoCaseAscii(lineName, name)) continue;
    std::string_view first = std::string_view(line).substr(colon == std::string::npos ? line.size() : colon + 1);
    while (!first.empty() && (first.front() == ' ' || first.front() == '\t')) first.remove_prefix(1);
    std::string value(first);
    for (std::size_t j = i + 1; j < headers.size(); ++j) {
      const std::string &next = headers[j];
      if (next.empty() || (next[0] != ' ' && next[0] != '\t')) break;
      value.push_back(' ');
      value += Trim(next);
    }
    return std::string(Trim(value));
  }
  return {};
}

ContentTypeParts SplitContentType(std::string_view value) {
  ContentTypeParts parts;
  std::string rest;
  std::size_t start = 0;
  bool first = true;
  while (start <= value.size()) {
    std::size_t semi = value.find(';', start);
    if (semi == std::string_view::npos) semi = value.size();
    const std::string_view piece = value.substr(start, semi - start);
    const std::size_t eq = piece.find('=');
    if (!first && eq != std::string_view::npos && parts.charset.empty() &&
        EqualsNoCaseAscii(Trim(piece.substr(0, eq)), "charset")) {
      std::string_view cs = Trim(piece.substr(eq + 1));
      if (cs.size() >= 2 && cs.front() == '"' && cs.back() == '"') cs = cs.substr(1, cs.size() - 2);
      parts.charset = std::string(cs);
    } else {
      if (!first) rest.push_back(';');
      rest += piece;
    }
    first = false;
    start = semi + 1;
  }
  parts.contentType = std::string(Trim(rest));
  if (parts.charset.empty()) {
    const std::string_view media = Trim(std::string_view(parts.contentType).substr(0, parts.contentType.find(';')));
    if (media.size() > 5 && EqualsNoCaseAscii(media.substr(0, 5), "text/")) {
      const std::string sub = Lower(media.substr(5));
      const bool xml = sub == "xml" || sub == "xml-external-parsed-entity" ||
                       (sub.size() >= 4 && sub.compare(sub.size() - 4, 4, "+xml") == 0);
      parts.charset = xml ? "us-ascii" : "ISO-8859-1";
    }
  }
  return parts;
}

MethodKind KindOf(std::string_view method) {
  struct Entry { std::string_view word; MethodKind kind; };
  static constexpr Entry kKinds[] = {{"HEAD", MethodKind::Head},     {"GET", MethodKind::Get},
                                     {"POST", MethodKind::Post},     {"DELETE", MethodKind::Delete},
                                     {"PUT", MethodKind::Put},       {"TRACE", MethodKind::Trace},
                                     {"OPTIONS", MethodKind::Options}};
  for (const auto &e : kKinds)
    if (EqualsNoCaseAscii(e.word, method)) return e.kind;
  return MethodKind::Unknown;
}

RequestReader::Line RequestReader::TakeLine(std::string_view data, std::string_view &line) {
  const std::size_t lf = data.find('\n', pos_);
  if (lf == std::string_view::npos) {
    // Without its line feed the line may already be too long (a CR may still come).
    const std::size_t pending = data.size() - pos_;
    return pending > limits_.maxLine + 1 || overhead_ + pending > limits_.maxOverhead ? Line::TooLong
                                                                                        : Line::Incomplete;
  }
  line = data.substr(pos_, lf - pos_);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.size() > limits_.maxLine) return Line::TooLong;
  overhead_ += lf + 1 - pos_;
  if (overhead_ > limits_.maxOverhead) return Line::TooLong;
  pos_ = lf + 1;
  return Line::Ok;
}

std::size_t RequestReader::TakeConsumed() {
  const std::size_t consumed = pos_;
  pos_ = 0;
  headerEnd_ = headerEnd_ >= consumed ? headerEnd_ - consumed : 0;
  return consumed;
}

std::optional<ReadOutcome> RequestReader::NextLine(std::string_view data, bool peerClosed, std::string_view &line) {
  switch (TakeLine(data, line)) {
    case Line::Ok: return std::nullopt;
    case Line::TooLong: return Closed{};
    case Line::Incomplete: break;
  }
  if (peerClosed) return Closed{};
  return NeedMore{};
}

ReadOutcome RequestReader::Next(std::string_view data, bool peerClosed) {
  const auto waitOrClose = [&]() -> ReadOutcome {
    if (peerClosed) return Closed{};
    return NeedMore{};
  };
  for (;;) {
    std::string_view line;
    switch (phase_) {
      case Phase::RequestLine: {
        if (auto stop = NextLine(data, peerClosed, line)) return *stop;
        const std::size_t first = line.find(' ');
        if (first == std::string_view::npos) return Closed{};
        const std::size_t last = line.rfind(' ');
        record_.version = std::string(line.substr(last + 1));
        record_.method = text::UpperAscii(line.substr(0, first));
        record_.target = last > first ? DecodeLine(line.substr(first + 1, last - first - 1)) : std::u16string{};
        std::string_view v = record_.version;
        const std::size_t slash = v.find('/');
        if (slash != std::string_view::npos) v.remove_prefix(slash + 1);
        const std::size_t dot = v.find('.');
        record_.versionMajor = VersionNumber(v.substr(0, dot));
        record_.versionMinor = dot == std::string_view::npos ? -1 : VersionNumber(v.substr(dot + 1));
        phase_ = Phase::Headers;
        break;
      }
      case Phase::Headers: {
        if (auto stop = NextLine(data, peerClosed, line)) return *stop;
        if (line.empty()) {
          headerEnd_ = pos_;
          phase_ = Phase::Decide;
          break;
        }
        if (record_.headers.size() >= limits_.maxHeaderLines) return Closed{};
        record_.headers.emplace_back(line);
        break;
      }
      case Phase::Decide: {
        ReadOutcome outcome = Decide(data);
        if (!std::holds_alternative<NeedMore>(outcome)) return outcome;
        break;  // Decide moved on to a body phase
      }
      case Phase::FixedBody: {
        const auto need = static_cast<std::size_t>(*record_.contentLength);
        bodyBytes_ = std::min(data.size() - headerEnd_, need);
        if (data.size() - headerEnd_ < need) return waitOrClose();
        record_.body = std::string(data.substr(headerEnd_, need));
        pos_ = headerEnd_ + need;
        phase_ = Phase::Finish;
        break;
      }
      case Phase::ChunkSize: {
        if (auto stop = NextLine(data, peerClosed, line)) return *stop;
        const std::uint64_t size = ChunkSize(line);
        if (size == 0) {
          phase_ = Phase::Trailers;
          break;
        }
        if (size > limits_.maxBody || record_.body->size() + size > limits_.maxBody) return Refused{413, {}, {}};
        chunkLeft_ = size;
        phase_ = Phase::ChunkData;
        break;
      }
      case Phase::ChunkData: {
        bodyBytes_ = record_.body->size() + static_cast<std::size_t>(std::min<std::uint64_t>(data.size() - pos_, chunkLeft_));
        if (data.size() - pos_ < chunkLeft_) return waitOrClose();
        record_.body->append(data.substr(pos_, chunkLeft_));
        pos_ += chunkLeft_;
        phase_ = Phase::ChunkEnd;
        break;
      }
      case Phase::ChunkEnd: {
        if (auto stop = NextLine(data, peerClosed, line)) return *stop;
        phase_ = Phase::ChunkSize;
        break;
      }
      case Phase::Trailers: {
        // Read and dropped; they count with the header lines.
        if (auto stop = NextLine(data, peerClosed, line)) return *stop;
        if (line.empty()) {
          phase_ = Phase::Finish;
        } else if (record_.headers.size() + ++extraLines_ > limits_.maxHeaderLines) {
          return Closed{};
        }
        break;
      }
      case Phase::Finish:
        return Finish();
    }
  }
}

ReadOutcome RequestReader::Decide(std::string_view data) {
  RequestRecord &r = record_;
  if (!decided_) {
    decided_ = true;
    const ContentTypeParts ct = SplitContentType(HeaderValue(r.headers, "Content-Type"));
    r.contentType = ct.contentType;
    r.charset = ct.charset;
    if (const auto n = ParseInteger(Trim(HeaderValue(r.headers, "Content-Length")), INT64_MIN, INT64_MAX); n && *n >= 0)
      r.contentLength = *n;
    r.transferEncoding = HeaderValue(r.headers, "Transfer-Encoding");
    r.host = HeaderValue(r.headers, "Host");
    if (r.method == "POST") {
      for (const char *name : {"X-HTTP-Method-Override", "X-HTTP-Method", "X-METHOD-OVERRIDE"}) {
        const std::string value = HeaderValue(r.headers, name);
        if (!value.empty()) {
          r.method = text::UpperAscii(value);
          break;
        }
      }
    }
    r.kind = KindOf(r.method);
    const std::size_t question = r.target.find(u'?');
    const std::u16string_view uri = std::u16string_view(r.target).substr(0, question);
    if (question != std::u16string::npos) r.rawQuery = r.target.substr(question + 1);
    if (uri == u"*") {
      r.path.assign(1, u'*');
    } else {
      std::u16string_view pathPart = uri;
      const std::size_t scheme = uri.find(u"://");
      if (scheme != std::u16string_view::npos && scheme > 0 && uri.find(u'/') > scheme) {
        std::u16string_view authority = uri.substr(scheme + 3);
        const std::size_t slash = authority.find(u'/');
        pathPart = slash == std::u16string_view::npos ? std::u16string_view(u"/") : authority.substr(slash);
        authority = authority.substr(0, slash);
        if (const std::size_t at = authority.rfind(u'@'); at != std::u16string_view::npos) authority.remove_prefix(at + 1);
        std::size_t portColon = authority.rfind(u':');
        if (portColon != std::u16string_view::npos && authority.find(u']', portColon) != std::u16string_view::npos)
          portColon = std::u16string_view::npos;  // a colon inside [IPv6]
        if (r.host.empty()) r.host = text::ToUtf8(authority.substr(0, portColon));
      }
      r.path = DecodePath(pathPart);
    }
  }

  const bool atLeast11 = r.versionMajor > 1 || (r.versionMajor == 1 && r.versionMinor >= 1);
  if (atLeast11 && HeaderValue(r.headers, "Host").empty()) return Refused{400, {}, {}};

  const std::string te = Lower(r.transferEncoding);
  const bool identity = te.empty() || te == "identity";
  if (identity && r.contentLength && static_cast<std::uint64_t>(*r.contentLength) > limits_.maxBody)
    return Refused{413, {}, {}};

  if (atLeast11 && !interimDone_ && data.size() == headerEnd_) {
    const std::string expect = HeaderValue(r.headers, "Expect");
    if (!expect.empty()) {
      if (!EqualsNoCaseAscii(expect, "100-continue")) return Refused{417, {}, {}};
      SendInterim interim;
      interim.bytes.append(r.version).append(" 100 Continue\r\n\r\n");
      return interim;
    }
  }

  if (identity) {
    if (r.contentLength) {
      r.body = std::string();
      phase_ = *r.contentLength > 0 ? Phase::FixedBody : Phase::Finish;
    } else if (r.kind == MethodKind::Post || r.kind == MethodKind::Put) {
      if (data.size() > headerEnd_) return Refused{411, {}, {}};
      if (!probeDone_) return Probe{};
      phase_ = Phase::Finish;
    } else {
      phase_ = Phase::Finish;
    }
  } else if (te.find("chunked") != std::string::npos) {
    r.body = std::string();
    pos_ = headerEnd_;
    phase_ = Phase::ChunkSize;
  } else {
    return Refused{400, {}, {}};
  }
  return NeedMore{};
}

ReadOutcome RequestReader::Finish() {
  RequestRecord &r = record_;
  if (r.body) {
    const std::string_view media = Trim(std::string_view(r.contentType).substr(0, r.contentType.find(';')));
    if (EqualsNoCaseAscii(media, "application/x-www-form-urlencoded")) {
      r.formText = text::FromLatin1(*r.body);
      r.body.reset();
    }
  }
  r.unparsedParams = r.formText;
  if (!r.rawQuery.empty()) {
    if (!r.unparsedParams.empty()) r.unparsedParams.push_back(u'&');
    r.unparsedParams += r.rawQuery;
  }
  const std::string authorization = HeaderValue(r.headers, "Authorization");
  if (!authorization.empty()) {
    const std::string_view scheme = std::string_view(authorization).substr(0, authorization.find(' '));
    // Basic credentials are accepted whatever they hold; the service does not use them.
    if (!EqualsNoCaseAscii(scheme, "Basic")) return Refused{401, u"Unsupported authorization scheme.", "Basic"};
  }
  return Delivered{std::move(record_)};
}

}  // namespace tav::http
