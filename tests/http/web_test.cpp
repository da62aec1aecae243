// The request bridge without sockets: query fields, path patterns, response bytes.
#include <gtest/gtest.h>

#include "http/detail/dispatch.h"
#include "http/detail/query.h"
#include "http/detail/request.h"
#include "http/detail/response.h"
#include "http/web.h"
#include "platform/errors.h"
#include "platform/text.h"
#include "support/log_capture.h"

using namespace tav::http;

TEST(QueryFields, CursorRulesAndDecoding) {
  struct Row { const char16_t *raw; std::vector<std::u16string> fields; };
  const Row rows[] = {
      {u"usuario=a+b&senha=%41%42", {u"usuario=a b", u"senha=AB"}},
      {u"usuario=Jo%C3%A3o", {u"usuario=João"}},
      {u"a=1&&b=2", {u"a=1", u"", u"b=2"}},
      {u"a=1&", {u"a=1"}},
      {u"\r\na=1\r\nb=2", {u"a=1", u"b=2"}},
      {u"\"a=1&b\"&c=3", {u"a=1&b", u"", u"c=3"}},  // the cursor stays on the closing quote
      {u"x=\"q&r\"&y", {u"x=\"q&r\"", u"y"}},
      {u"n%3Dm=v%26w", {u"n=m=v&w"}},
      {u"p=100%%", {u"p=100%"}},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(tav::text::ToUtf8(row.raw));
    std::vector<std::u16string> decoded;
    for (const auto &f : SplitQuery(row.raw)) decoded.push_back(DecodeQueryField(f));
    EXPECT_EQ(decoded, row.fields);
  }
  struct Bad { const char16_t *field; const char *message; };
  const Bad bad[] = {
      {u"usuario=a%zz", "Invalid URL encoded character (%zz) at position 10"},
      {u"senha=%4", "Error decoding URL style (%XX) encoded string at position 7"},
  };
  for (const auto &b : bad) {
    try {
      DecodeQueryField(b.field);
      ADD_FAILURE() << b.message;
    } catch (const tav::Error &e) {
      EXPECT_STREQ(e.what(), b.message);
    }
  }
}

TEST(QueryFields, LookupByNameWithoutRegardToCase) {
  RequestRecord record;
  record.rawQuery = u"USUARIO=x&nivel&senha=1&usuario=y";
  WebRequest request(record);
  EXPECT_EQ(request.QueryField(u"usuario"), u"x");
  EXPECT_EQ(request.QueryField(u"nivel"), u"");  // a field without "=" has no name
  EXPECT_EQ(request.QueryField(u"Senha"), u"1");
}

TEST(PathPatterns, Matching) {
  struct Row { const char16_t *pattern, *path; bool match; };
  const Row rows[] = {
      {u"/WsTavoric", u"/wstavoric", true},   {u"/WsTavoric", u"/WSTAVORIC", true},
      {u"/WsTavoric", u"/WsTavoric/", false}, {u"/WsTavoric", u"/WsTavoric2", false},
      {u"/a*", u"/abc", true},                {u"/a*c", u"/ab", false},
      {u"/a?c", u"/abc", true},               {u"/[a-c]x", u"/Bx", true},
      {u"/[!a-c]x", u"/dx", true},            {u"/[!a-c]x", u"/ax", false},
      {u"/ç", u"/Ç", false},                  {u"*", u"", true},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(tav::text::ToUtf8(row.pattern) + " ~ " + tav::text::ToUtf8(row.path));
    EXPECT_EQ(MatchesPath(row.pattern, row.path), row.match);
  }
}

TEST(ResponseWriting, ExactBytes) {
  const std::time_t when = 1765288987;  // Tue, 09 Dec 2025 14:03:07 GMT
  ResponseRecord r;
  r.SetStatus(200);
  r.SetContentType(u"application/json; charset=ISO-8859-1");
  r.content = u"ç€";
  StringSink sink;
  WriteContent(r, MethodKind::Post, sink, when);
  EXPECT_EQ(sink.data,
            "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: application/json; charset=ISO-8859-1\r\n"
            "Content-Length: 2\r\nDate: Tue, 09 Dec 2025 14:03:07 GMT\r\n\r\n\xE7?");
  EXPECT_TRUE(r.content.empty());
  EXPECT_THROW(WriteHeader(r, sink, when), std::logic_error);

  struct Row { std::int32_t status; MethodKind kind; const char *statusLine; bool body; };
  const Row rows[] = {
      {204, MethodKind::Get, "HTTP/1.1 204 No Content\r\n", false},
      {150, MethodKind::Get, "HTTP/1.1 150 Unknown Response Code\r\n", false},
      {-150, MethodKind::Get, "HTTP/1.1 -150 Unknown Response Code\r\n", true},
      {0, MethodKind::Get, "HTTP/1.1 0 Unknown Response Code\r\n", true},
      {304, MethodKind::Get, "HTTP/1.1 304 Not Modified\r\n", false},
      {200, MethodKind::Head, "HTTP/1.1 200 OK\r\n", false},
      {413, MethodKind::Post, "HTTP/1.1 413 Request Entity Too Long\r\n", true},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.status);
    ResponseRecord rr;
    rr.SetStatus(row.status);
    rr.content = u"abc";
    StringSink s;
    WriteContent(rr, row.kind, s, when);
    EXPECT_EQ(s.data.rfind(row.statusLine, 0), 0u) << s.data;
    EXPECT_NE(s.data.find("Content-Type: text/html; charset=ISO-8859-1\r\nContent-Length: 3\r\n"), std::string::npos);
    EXPECT_EQ(s.data.size() - s.data.find("\r\n\r\n") - 4, row.body ? 3u : 0u);
  }
}

TEST(ReadString, ContentSourcesAndCounts) {
  RequestRecord record;
  record.body = std::string(6000, 'x');
  WebRequest big(record);
  EXPECT_EQ(big.ReadString(5900).size(), 5900u);
  EXPECT_EQ(big.ReadString(5900).size(), 100u);
  EXPECT_EQ(big.ReadString(5900).size(), 0u);

  RequestRecord utf8;
  utf8.body = "\xC3\xA7\xC3\xA7";
  struct Row { const char *charset; std::int32_t count; std::u16string text; };
  const Row rows[] = {
      {"", -1, u"\u00C3\u00A7\u00C3\u00A7"}, {"UTF-8", -1, u"çç"}, {"utf8", -1, u"\u00C3\u00A7\u00C3\u00A7"},
      {"UTF-8", 3, u"ç\uFFFD"}, {"UTF-8", 0, u""},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.charset);
    utf8.charset = row.charset;
    WebRequest request(utf8);
    EXPECT_EQ(request.ReadString(row.count), row.text);
  }

  RequestRecord get;  // no body buffer: the unparsed parameters
  get.rawQuery = get.unparsedParams = u"a=1&b=2";
  EXPECT_EQ(WebRequest(get).ReadString(5900), u"a=1&b=2");
  get.body = std::string();  // "Content-Length: 0"
  EXPECT_EQ(WebRequest(get).ReadString(5900), u"");
}

TEST(ErrorPageText, EscapesHtml) {
  EXPECT_EQ(ErrorPage(u"<b>&", u"/x\"y"),
            u"<html><body><h1>Internal Application Error</h1>\r\n<p>&lt;b&gt;&amp;\r\n<p><hr width=\"100%\"><i>/x&quot;y</i></body></html>");
}
