#include "http/web.h"

#include <ctime>

#include "log/execution_log.h"
#include "platform/errors.h"
#include "platform/no_destructor.h"
#include "platform/strconv.h"
#include "platform/text.h"

namespace tav::http {
namespace {

constexpr char kTooManyMessage[] = "Maximum number of concurrent connections exceeded.  Please try again later";

char16_t LowerLetter(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

bool SetMatches(std::u16string_view set, char16_t c) {
  bool negate = false;
  if (!set.empty() && set.front() == u'!') {
    negate = true;
    set.remove_prefix(1);
  }
  const char16_t lc = LowerLetter(c);
  bool found = false;
  for (std::size_t i = 0; i < set.size() && !found; ++i) {
    if (i + 2 < set.size() && set[i + 1] == u'-') {
      const char16_t lo = LowerLetter(set[i]), hi = LowerLetter(set[i + 2]);
      found = (lc >= lo && lc <= hi) || (c >= set[i] && c <= set[i + 2]);
      i += 2;
    } else {
      found = LowerLetter(set[i]) == lc;
    }
  }
  return found != negate;
}

bool Match(std::u16string_view p, std::u16string_view s) {
  std::size_t pi = 0, si = 0;
  std::size_t starP = std::u16string_view::npos, starS = 0;
  while (si < s.size()) {
    if (pi < p.size() && p[pi] == u'*') {
      starP = pi++;
      starS = si;
      continue;
    }
    if (pi < p.size()) {
      bool ok = false;
      std::size_t next = pi + 1;
      if (p[pi] == u'?') {
        ok = true;
      } else if (p[pi] == u'[') {
        const std::size_t close = p.find(u']', pi + 1);
        if (close != std::u16string_view::npos) {
          ok = SetMatches(p.substr(pi + 1, close - pi - 1), s[si]);
          next = close + 1;
        } else {
          ok = s[si] == u'[';
        }
      } else {
        ok = LowerLetter(p[pi]) == LowerLetter(s[si]);
      }
      if (ok) {
        pi = next;
        ++si;
        continue;
      }
    }
    if (starP == std::u16string_view::npos) return false;
    pi = starP + 1;
    si = ++starS;
  }
  while (pi < p.size() && p[pi] == u'*') ++pi;
  return pi == p.size();
}

bool MethodMatches(MethodType type, const std::string &method) {
  switch (type) {
    case MethodType::Any: return true;
    case MethodType::Get: return method == "GET";
    case MethodType::Put: return method == "PUT";
    case MethodType::Post: return method == "POST";
    case MethodType::Head: return method == "HEAD";
    case MethodType::Delete: return method == "DELETE";
    case MethodType::Patch: return method == "PATCH";
  }
  return false;
}

int Hex(char16_t c) { return HexDigitValue(c); }

std::u16string HtmlEscape(std::u16string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (char16_t c : s) {
    switch (c) {
      case u'<': out += u"&lt;"; break;
      case u'>': out += u"&gt;"; break;
      case u'&': out += u"&amp;"; break;
      case u'"': out += u"&quot;"; break;
      case u'\'': out += u"&#39;"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

// Runs the table: the applying actions in order, then the default one.
bool Dispatch(WebModule *module, WebRequest &request, WebResponse &response) {
  if (response.Sent()) return true;
  if (module == nullptr) return false;
  std::u16string path = request.PathInfo();
  if (path == u"/") path.clear();
  for (WebAction &action : module->Actions()) {
    if (!action.Enabled || !MethodMatches(action.methodType, request.Method())) continue;
    std::u16string pattern = action.PathInfo;
    if (pattern.empty() || pattern.front() != u'/') pattern.insert(pattern.begin(), u'/');
    if (pattern == u"/") pattern.clear();
    if (!Match(pattern, path) || !action.OnAction) continue;
    bool handled = true;
    action.OnAction(action, request, response, handled);
    if (handled) return true;
  }
  for (WebAction &action : module->Actions()) {
    if (!action.Default || !action.OnAction) continue;
    bool handled = true;
    action.OnAction(action, request, response, handled);
    if (handled) return true;
  }
  return false;
}

}  // namespace

// ---- web request --------------------------------------------------------------

const std::vector<std::u16string> &WebRequest::QueryFields() {
  if (!query_) {
    std::vector<std::u16string> fields;
    for (const auto &raw : SplitQuery(r_.rawQuery)) fields.push_back(DecodeQueryField(raw));
    query_ = std::move(fields);
  }
  return *query_;
}

std::u16string WebRequest::QueryField(std::u16string_view name) {
  for (const auto &field : QueryFields()) {
    const std::size_t eq = field.find(u'=');
    if (eq == std::u16string::npos) continue;
    if (text::EqualsNoCaseAscii(std::u16string_view(field).substr(0, eq), name)) return field.substr(eq + 1);
  }
  return {};
}

std::u16string WebRequest::GetFieldByName(std::u16string_view name) const {
  return DecodeLine(HeaderValue(r_.headers, text::ToUtf8(name)));
}

std::u16string WebRequest::ReadString(std::int32_t count) {
  if (!source_) {
    if (r_.body) source_ = *r_.body;
    else if (!r_.formText.empty()) source_ = text::ToAnsi(r_.formText);
    else source_ = text::ToAnsi(r_.unparsedParams);
  }
  const std::size_t left = source_->size() - readPos_;
  const std::size_t take = count < 0 ? left : std::min<std::size_t>(left, static_cast<std::size_t>(count));
  const std::string_view bytes = std::string_view(*source_).substr(readPos_, take);
  readPos_ += take;
  return text::Decode(bytes, r_.charset);
}

// ---- web response -------------------------------------------------------------

std::u16string WebResponse::ContentType() const {
  std::u16string value = r_.contentType;
  if (!r_.charset.empty()) value += u"; charset=" + text::FromUtf8(r_.charset);
  return value;
}

void WebResponse::SendResponse() {
  sent_ = true;
  r_.contentLength = -1;
  if (r_.contentType.empty() && !r_.content.empty()) r_.SetContentType(u"text/html; charset=utf-8");
  WriteContent(r_, kind_, sink_, std::time(nullptr));
}

// ---- handler pool -------------------------------------------------------------

HandlerPool &HandlerPool::Global() {
  static NoDestructor<HandlerPool> pool;  // instances live until the program ends
  return pool.get();
}

void HandlerPool::RegisterModuleClass(ModuleFactory factory) {
  std::lock_guard lock(mutex_);
  factory_ = std::move(factory);
  idle_.clear();
}

HandlerPool::Lease HandlerPool::Admit() {
  std::lock_guard lock(mutex_);
  if (active_ >= limit_) throw Error(kTooManyMessage);
  std::unique_ptr<WebModule> module;
  if (!idle_.empty()) {
    module = std::move(idle_.front());
    idle_.erase(idle_.begin());
  } else if (factory_) {
    module = factory_();
  }
  ++active_;
  return Lease(*this, std::move(module));
}

void HandlerPool::GiveBack(std::unique_ptr<WebModule> module) {
  std::lock_guard lock(mutex_);
  --active_;
  if (module) idle_.push_back(std::move(module));
}

void HandlerPool::Lease::Release() {
  if (pool_ != nullptr) std::exchange(pool_, nullptr)->GiveBack(std::move(module_));
}

std::size_t HandlerPool::Active() const {
  std::lock_guard lock(mutex_);
  return active_;
}

std::size_t HandlerPool::Idle() const {
  std::lock_guard lock(mutex_);
  return idle_.size();
}

// ---- helpers ------------------------------------------------------------------

bool MatchesPath(std::u16string_view pattern, std::u16string_view path) { return Match(pattern, path); }

std::vector<std::u16string> SplitQuery(std::u16string_view s) {
  std::vector<std::u16string> fields;
  std::size_t cursor = 0;
  const std::size_t n = s.size();
  for (;;) {
    while (cursor < n && (s[cursor] == u'\r' || s[cursor] == u'\n')) ++cursor;
    const std::size_t start = cursor;
    std::u16string field;
    if (cursor < n && s[cursor] == u'"') {
      const std::size_t close = s.find(u'"', cursor + 1);
      cursor = close == std::u16string_view::npos ? n : close;
      field = std::u16string(s.substr(start + 1, cursor - start - 1));
    } else {
      while (cursor < n && s[cursor] != u'&' && s[cursor] != u'\r' && s[cursor] != u'\n' && s[cursor] != u'"')
        ++cursor;
      if (cursor < n && s[cursor] == u'"') {
        const std::size_t close = s.find(u'"', cursor + 1);
        cursor = close == std::u16string_view::npos ? n : close + 1;
      }
      field = std::u16string(s.substr(start, cursor - start));
    }
    if (start < n) fields.push_back(std::move(field));
    if (cursor >= n) break;
    ++cursor;
  }
  return fields;
}

std::u16string DecodeQueryField(std::u16string_view field) {
  std::string bytes;
  bytes.reserve(field.size());
  for (std::size_t i = 0; i < field.size(); ++i) {
    const char16_t c = field[i];
    if (c == u'+') {
      bytes.push_back(' ');
    } else if (c == u'%') {
      if (i + 1 < field.size() && field[i + 1] == u'%') {
        bytes.push_back('%');
        ++i;
      } else if (i + 2 >= field.size()) {
        throw Error("Error decoding URL style (%XX) encoded string at position " + std::to_string(i + 1));
      } else if (Hex(field[i + 1]) < 0 || Hex(field[i + 2]) < 0) {
        throw Error(u"Invalid URL encoded character (" + std::u16string(field.substr(i, 3)) + u") at position " +
                    text::Ascii(std::to_string(i + 1)));
      } else {
        bytes.push_back(static_cast<char>(Hex(field[i + 1]) * 16 + Hex(field[i + 2])));
        i += 2;
      }
    } else if (c < 0x80) {
      bytes.push_back(static_cast<char>(c));
    } else {
      bytes += text::ToUtf8(field.substr(i, 1));
    }
  }
  return text::FromUtf8(bytes);
}

std::u16string ErrorPage(std::u16string_view message, std::u16string_view path) {
  return u"<html><body><h1>Internal Application Error</h1>\r\n<p>" + HtmlEscape(message) +
         u"\r\n<p><hr width=\"100%\"><i>" + HtmlEscape(path) + u"</i></body></html>";
}

void ServeRequest(RequestRecord &request, ResponseRecord &response, ByteSink &sink, HandlerPool &pool) {
  WebRequest webRequest(request);
  WebResponse webResponse(response, sink, request.kind);
  webResponse.SetStatusCode(200);
  HandlerPool::Lease lease = pool.Admit();  // a refusal goes to the caller
  bool handled = false;
  std::exception_ptr failure;
  try {
    handled = Dispatch(lease.get(), webRequest, webResponse);
  } catch (const ConnectionError &) {
    throw;
  } catch (...) {
    failure = std::current_exception();
  }
  // The instance goes back to the pool as soon as the action is done, before the
  // response is written, so a client that reconnects at once finds it free.
  lease.Release();
  if (failure) {
    if (!webResponse.Sent()) {
      webResponse.SetContent(ErrorPage(ErrorText(failure), request.path));
      webResponse.SetStatusCode(500);
      try {
        webResponse.SendResponse();
      } catch (const ConnectionError &broken) {
        // The operator learns of it through the log; the connection thread goes on to close.
        log::RegistraLog(u"Falha ao enviar a página de erro: " + text::FromUtf8(broken.what()));
        throw;
      }
    }
    handled = false;
  }
  if (handled && !webResponse.Sent()) webResponse.SendResponse();
}

}  // namespace tav::http
