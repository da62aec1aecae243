// The request reader as a pure function over bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "http/detail/request_reader.h"
#include "support/log_capture.h"

using namespace tav::http;

namespace {

struct Result {
  ReadOutcome outcome;
  std::string interim;
};

// Feeds `input` (from an exact-size heap copy, so a read past the end is caught),
// answering the interim and probe steps the way the socket shell does.
Result Drive(const std::string &input, bool peerClosed = false, Limits limits = Limits{}) {
  auto copy = std::make_unique<char[]>(input.size() + 1);
  std::memcpy(copy.get(), input.data(), input.size());
  const std::string_view data(copy.get(), input.size());
  RequestReader reader(limits);
  Result result;
  for (;;) {
    ReadOutcome o = reader.Next(data, peerClosed);
    if (auto *i = std::get_if<SendInterim>(&o)) {
      result.interim += i->bytes;
      reader.InterimSent();
    } else if (std::holds_alternative<Probe>(o)) {
      reader.ProbeDone();
    } else {
      result.outcome = std::move(o);
      return result;
    }
  }
}

const RequestRecord &Req(const Result &r) { return std::get<Delivered>(r.outcome).request; }

std::string Kind(const ReadOutcome &o) {
  if (std::holds_alternative<NeedMore>(o)) return "need-more";
  if (std::holds_alternative<Closed>(o)) return "closed";
  if (auto *r = std::get_if<Refused>(&o)) return "refused " + std::to_string(r->status);
  if (std::holds_alternative<Delivered>(o)) return "delivered";
  return "other";
}

}  // namespace

TEST(RequestReader, OutcomesTable) {
  const std::string longLine(16384 - 3, 'v');  // "X: " + value = 16384 bytes
  std::string manyHeaders, tooManyHeaders;
  for (int i = 0; i < 1024; ++i) manyHeaders += "H" + std::to_string(i) + ": x\r\n";
  tooManyHeaders = manyHeaders + "H1024: x\r\n";
  struct Row { const char *name; std::string input; bool peerClosed; std::string expected; };
  const Row rows[] = {
      {"HTTP/1.0 without Host", "GET /WsTavoric HTTP/1.0\r\n\r\n", false, "delivered"},
      {"HTTP/1.1 without Host", "GET /WsTavoric HTTP/1.1\r\n\r\n", false, "refused 400"},
      {"one word", "NONSENSE\r\n\r\n", false, "closed"},
      {"empty line", "\r\n", false, "closed"},
      {"peer closes in headers", "GET / HTTP/1.1\r\nHost: a\r\n", true, "closed"},
      {"header of 16384 bytes", "GET / HTTP/1.0\r\nX: " + longLine + "\r\n\r\n", false, "delivered"},
      {"header of 16385 bytes", "GET / HTTP/1.0\r\nX: " + longLine + "v\r\n\r\n", false, "closed"},
      {"overlong line without LF yet", "GET / HTTP/1.0\r\nX: " + longLine + "vvv", false, "closed"},
      {"1024 header lines", "GET / HTTP/1.0\r\n" + manyHeaders + "\r\n", false, "delivered"},
      {"1025 header lines", "GET / HTTP/1.0\r\n" + tooManyHeaders + "\r\n", false, "closed"},
      {"Expect other", "POST / HTTP/1.1\r\nHost: a\r\nExpect: x\r\nContent-Length: 1\r\n\r\n", false, "refused 417"},
      {"unframed POST with body", "POST / HTTP/1.1\r\nHost: a\r\n\r\nbody", false, "refused 411"},
      {"unframed POST without body", "POST / HTTP/1.1\r\nHost: a\r\n\r\n", false, "delivered"},
      {"gzip", "POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: gzip\r\n\r\n", false, "refused 400"},
      {"Bearer", "GET / HTTP/1.1\r\nHost: a\r\nAuthorization: Bearer x\r\n\r\n", false, "refused 401"},
      {"basic lower case", "GET / HTTP/1.1\r\nHost: a\r\nAuthorization: basic !!!\r\n\r\n", false, "delivered"},
      {"body longer than sent", "POST / HTTP/1.1\r\nHost: a\r\nContent-Length: 10\r\n\r\nabc", false, "need-more"},
      {"peer closes in body", "POST / HTTP/1.1\r\nHost: a\r\nContent-Length: 10\r\n\r\nabc", true, "closed"},
      {"Content-Length over the limit", "POST / HTTP/1.1\r\nHost: a\r\nContent-Length: 1048577\r\n\r\n", false, "refused 413"},
      {"chunked over the limit", "POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\n\r\n100001\r\n", false, "refused 413"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(Kind(Drive(row.input, row.peerClosed).outcome), row.expected);
  }
  const auto unauthorized = std::get<Refused>(Drive(rows[14].input).outcome);
  EXPECT_EQ(unauthorized.content, u"Unsupported authorization scheme.");
  EXPECT_EQ(unauthorized.authenticate, "Basic");
}

TEST(RequestReader, EveryPrefixOfAGoodRequestNeedsMore) {
  const std::string full = "POST /WsTavoric?a=1 HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nhello";
  for (std::size_t n = 0; n < full.size(); ++n) {
    SCOPED_TRACE(n);
    EXPECT_EQ(Kind(Drive(full.substr(0, n)).outcome), "need-more");
  }
  EXPECT_EQ(*Req(Drive(full)).body, "hello");
}

TEST(RequestReader, RequestLineAndTarget) {
  const Result r = Drive("post /a b?x=%41 HTTP/1.1\r\nHost: h\r\nX-HTTP-Method-Override: head\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(Req(r).method, "HEAD");
  EXPECT_EQ(Req(r).kind, MethodKind::Head);
  EXPECT_EQ(Req(r).target, u"/a b?x=%41");
  EXPECT_EQ(Req(r).rawQuery, u"x=%41");
  EXPECT_EQ(Req(r).path, u"/a b");
  EXPECT_EQ(Req(r).versionMajor, 1);
  EXPECT_EQ(Req(r).versionMinor, 1);

  struct Row { const char *target; std::u16string path; };
  const Row rows[] = {
      {"/Ws%54avoric", u"/WsTavoric"},   {"/a%C3%A7", u"/aç"},       {"/%u00e7", u"/ç"},
      {"/a%zzb", u"/ab"},                {"/a+b", u"/a+b"},          {"*", u"*"},
      {"http://host:81/x/y?q", u"/x/y"}, {"/%E7", u"/\uFFFD"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.target);
    EXPECT_EQ(Req(Drive(std::string("GET ") + row.target + " HTTP/1.0\r\n\r\n")).path, row.path);
  }
  EXPECT_EQ(Req(Drive("GET http://example.org:81/x HTTP/1.0\r\n\r\n")).host, "example.org");
  EXPECT_EQ(Req(Drive("GET / HTTP/x.y\r\n\r\n")).versionMajor, -1);
}

TEST(RequestReader, ExpectContinueWritesTheInterimAnswer) {
  const std::string head = "POST / HTTP/1.1\r\nHost: a\r\nExpect: 100-Continue\r\nContent-Length: 2\r\n\r\n";
  RequestReader reader;
  ReadOutcome o = reader.Next(head, false);
  ASSERT_TRUE(std::holds_alternative<SendInterim>(o));
  EXPECT_EQ(std::get<SendInterim>(o).bytes, "HTTP/1.1 100 Continue\r\n\r\n");
  reader.InterimSent();
  EXPECT_TRUE(std::holds_alternative<NeedMore>(reader.Next(head, false)));
  const std::string all = head + "ok";
  EXPECT_EQ(*std::get<Delivered>(reader.Next(all, false)).request.body, "ok");
  // With the body already there, no interim answer is written.
  EXPECT_EQ(Drive(all).interim, "");
}

TEST(RequestReader, BodyFramings) {
  const Result chunked = Drive(
      "POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: gzip, chunked\r\n\r\n5;x=1\r\nhello\r\n3\r\n abc\r\n0\r\nT: 1\r\n\r\n");
  EXPECT_EQ(*Req(chunked).body, "hello ab");  // chunk sizes count bytes exactly
  const Result formed = Drive(
      "POST /?a=1 HTTP/1.1\r\nHost: a\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: 9\r\n\r\nusuario=x");
  EXPECT_FALSE(Req(formed).body.has_value());
  EXPECT_EQ(Req(formed).formText, u"usuario=x");
  EXPECT_EQ(Req(formed).unparsedParams, u"usuario=x&a=1");
  for (const char *length : {"-1", "abc"}) {
    SCOPED_TRACE(length);
    const Result r = Drive(std::string("GET / HTTP/1.1\r\nHost: a\r\nContent-Length: ") + length + "\r\n\r\n");
    EXPECT_FALSE(Req(r).contentLength.has_value());
    EXPECT_FALSE(Req(r).body.has_value());
  }
  EXPECT_EQ(*Req(Drive("GET / HTTP/1.1\r\nHost: a\r\nContent-Length: $3\r\n\r\nabc")).body, "abc");
}

// The socket shell's way: bytes arrive in pieces, and what the reader has read is
// dropped from the buffer after each NeedMore. Reports the outcome and the most
// the buffer ever held.
struct Streamed {
  std::string kind;
  std::size_t mostHeld = 0;
  std::size_t bodyBytes = 0;
};
template <typename NextPiece>
Streamed Stream(NextPiece next, const Limits &limits) {
  RequestReader reader(limits);
  std::string buffer, piece;
  Streamed result;
  while (next(piece)) {
    buffer += piece;
    result.mostHeld = std::max(result.mostHeld, buffer.size());
    const ReadOutcome outcome = reader.Next(buffer, false);
    result.kind = Kind(outcome);
    result.bodyBytes = reader.BodyBytes();
    if (result.kind != "need-more") return result;
    buffer.erase(0, reader.TakeConsumed());
  }
  return result;
}

TEST(RequestReader, TrailersAndChunkFramingAreBoundedAndNotKept) {
  Limits limits;
  limits.maxLine = 1024;
  limits.maxHeaderLines = 32;
  limits.maxOverhead = 64 << 10;
  const std::string head = "POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\n\r\n";
  struct Row {
    const char *name;
    std::string input;
    std::string expected;
  };
  std::string manyTrailers = head + "0\r\n", longTrailer = head + "0\r\nT: " + std::string(1100, 't') + "\r\n\r\n";
  for (int i = 0; i < 30; ++i) manyTrailers += "T" + std::to_string(i) + ": x\r\n";  // with 2 headers: 32 lines
  const Row rows[] = {
      {"trailers within the line count", manyTrailers + "\r\n", "delivered"},
      {"one trailer line more", manyTrailers + "T30: x\r\n\r\n", "closed"},
      {"trailer line too long", longTrailer, "closed"},
      {"chunk-size line too long", head + "1;" + std::string(1100, 'e') + "\r\nx\r\n0\r\n\r\n", "closed"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(Kind(Drive(row.input, false, limits).outcome), row.expected);
  }

  // A flood of trailers, 100 bytes a line, sent 4 KiB at a time: cut off at the
  // line count, with only the unread tail ever held.
  int sent = 0;
  Streamed flood = Stream(
      [&](std::string &piece) {
        piece = sent++ == 0 ? head + "0\r\n" : "";
        while (piece.size() < 4096) piece += "T: " + std::string(95, 'x') + "\r\n";
        return sent < 100000;
      },
      limits);
  EXPECT_EQ(flood.kind, "closed");
  EXPECT_LT(flood.mostHeld, 8192u);

  // Thousands of one-byte chunks with long extensions: cut off at the framing cap;
  // the body is kept, the framing is not.
  sent = 0;
  Streamed extensions = Stream(
      [&](std::string &piece) {
        piece = sent++ == 0 ? head : "";
        piece += "1;" + std::string(1000, 'e') + "\r\nx\r\n";
        return sent < 100000;
      },
      limits);
  EXPECT_EQ(extensions.kind, "closed");
  EXPECT_LT(extensions.mostHeld, 4096u);
  EXPECT_LT(extensions.bodyBytes, 100u);  // framing is not body: it buys no time at the minimum rate

  // The same request within the limits still arrives whole, fed a byte at a time.
  const std::string good = head + "5;x=1\r\nhello\r\n3\r\n abc\r\n0\r\nT: 1\r\n\r\n";
  std::size_t at = 0;
  const Streamed whole = Stream(
      [&](std::string &piece) {
        if (at >= good.size()) return false;
        piece = good.substr(at++, 1);
        return true;
      },
      limits);
  EXPECT_EQ(whole.kind, "delivered");
  EXPECT_EQ(whole.bodyBytes, 8u);
}

TEST(RequestReader, HeaderLookupAndContentTypeSplit) {
  const std::vector<std::string> headers = {"usuario: primeiro", "Usuario: segundo", "usuario : espaco",
                                            "X-Long: a", "\tb  ", " c", "Raw: \xE7"};
  EXPECT_EQ(HeaderValue(headers, "USUARIO"), "primeiro");
  EXPECT_EQ(HeaderValue(headers, "usuario "), "espaco");
  EXPECT_EQ(HeaderValue(headers, "x-long"), "a b c");
  EXPECT_EQ(HeaderValue(headers, "missing"), "");
  EXPECT_EQ(DecodeLine(HeaderValue(headers, "raw")), u"\uFFFD");

  struct Row { const char *value, *type, *charset; };
  const Row rows[] = {
      {"application/json; charset=ISO-8859-1", "application/json", "ISO-8859-1"},
      {"application/json", "application/json", ""},
      {"text/plain", "text/plain", "ISO-8859-1"},
      {"text/xml", "text/xml", "us-ascii"},
      {"text/svg+xml", "text/svg+xml", "us-ascii"},
      {"text/html; CHARSET=\"utf-8\"; level=1", "text/html; level=1", "utf-8"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.value);
    const auto parts = SplitContentType(row.value);
    EXPECT_EQ(parts.contentType, row.type);
    EXPECT_EQ(parts.charset, row.charset);
  }
}
