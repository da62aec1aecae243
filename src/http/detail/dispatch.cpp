#include "http/detail/dispatch.h"

#include "http/detail/request.h"
#include "http/detail/response.h"
#include "http/handler_pool.h"
#include "http/web.h"
#include "log/execution_log.h"
#include "platform/errors.h"
#include "platform/text.h"

namespace tav::http {
namespace {

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

bool MatchesPath(std::u16string_view pattern, std::u16string_view path) { return Match(pattern, path); }

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
