#include "http/detail/response.h"

#include "platform/datetime.h"
#include "platform/text.h"

namespace tav::http {

const char *ReasonText(std::int32_t status) {
  switch (status) {
    case 100: return "Continue";
    case 200: return "OK";
    case 201: return "Created";
    case 202: return "Accepted";
    case 203: return "Non-authoritative Information";
    case 204: return "No Content";
    case 205: return "Reset Content";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Moved Temporarily";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 305: return "Use Proxy";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method not allowed";
    case 406: return "Not Acceptable";
    case 407: return "Proxy Authentication Required";
    case 408: return "Request Timeout";
    case 409: return "Conflict";
    case 410: return "Gone";
    case 411: return "Length Required";
    case 412: return "Precondition Failed";
    case 413: return "Request Entity Too Long";
    case 414: return "Request-URI Too Long. 256 Chars max";
    case 415: return "Unsupported Media Type";
    case 417: return "Expectation Failed";
    case 428: return "Precondition Required";
    case 429: return "Too Many Requests";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway timeout";
    case 505: return "HTTP version not supported";
    case 511: return "Network Authentication Required";
    default: return "Unknown Response Code";
  }
}

void ResponseRecord::SetStatus(std::int32_t code) {
  status = code;
  reason = ReasonText(code);
  if (code == 404) close = true;
}

void ResponseRecord::SetContentType(std::u16string_view value) {
  if (value.empty()) {
    contentType.clear();
    charset.clear();
    return;
  }
  const ContentTypeParts parts = SplitContentType(text::ToUtf8(value));
  contentType = text::FromUtf8(parts.contentType);
  charset = parts.charset;
}

namespace {

// Header text: every character outside ASCII is written as "?".
void AppendAscii(std::string &out, std::u16string_view value) {
  for (char16_t c : value) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
}
void AppendAscii(std::string &out, std::string_view value) {
  for (char c : value) out.push_back(static_cast<unsigned char>(c) < 0x80 ? c : '?');
}

void AppendHeader(std::string &out, std::string_view name, std::string_view value) {
  if (value.empty()) return;
  out += name;
  out += ": ";
  AppendAscii(out, value);
  out += "\r\n";
}

}  // namespace

void WriteHeader(ResponseRecord &r, ByteSink &sink, std::time_t now) {
  if (r.headerWritten) throw std::logic_error("Header already sent");
  if (r.contentType.empty() && !r.content.empty()) r.SetContentType(u"text/html; charset=ISO-8859-1");
  if (r.contentLength == -1) {
    r.encodedContent = r.content.empty() ? std::string() : text::Encode(r.content, r.charset);
    r.contentLength = static_cast<std::int64_t>(r.encodedContent.size());
  }

  std::string header;
  header.reserve(256);
  header += "HTTP/1.1 ";
  header += std::to_string(r.status);
  header += ' ';
  AppendAscii(header, r.reason);
  header += "\r\n";
  if (r.close) header += "Connection: close\r\n";
  if (!r.contentType.empty()) {
    header += "Content-Type: ";
    AppendAscii(header, r.contentType);
    if (!r.charset.empty()) {
      header += "; charset=";
      AppendAscii(header, r.charset);
    }
    header += "\r\n";
  }
  AppendHeader(header, "Content-Length", std::to_string(r.contentLength));
  AppendHeader(header, "Date", Rfc1123(now));
  for (const auto &value : r.authenticate) AppendHeader(header, "WWW-Authenticate", value);
  header += "\r\n";
  r.headerWritten = true;
  sink.Write(header, !r.content.empty());
}

void WriteContent(ResponseRecord &r, MethodKind kind, ByteSink &sink, std::time_t now) {
  if (!r.headerWritten) WriteHeader(r, sink, now);
  const bool noBody = kind == MethodKind::Head || r.status / 100 == 1 || r.status == 204 || r.status == 304;
  if (!noBody && !r.content.empty()) {
    if (r.encodedContent.empty()) r.encodedContent = text::Encode(r.content, r.charset);
    sink.Write(r.encodedContent, false);
  }
  r.content.clear();
  r.encodedContent.clear();
}

}  // namespace tav::http
