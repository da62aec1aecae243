// The HTTPS client on Windows: WinHTTP, one session per call. Redirects are
// followed on https only, the user's proxy settings are honoured, each wait has
// its own limit, and the answer is capped. With a CA bundle the server's chain is
// checked against it instead of the system store, before the request is sent.
#include <windows.h>
#include <wincrypt.h>
#include <winhttp.h>

#include <memory>
#include <vector>

#include "platform/files.h"
#include "platform/https.h"
#include "platform/win_util.h"

namespace tav::https {
namespace {

using win::SystemMessage;

struct InternetCloser {
  void operator()(void *h) const noexcept { WinHttpCloseHandle(h); }
};
using Internet = std::unique_ptr<void, InternetCloser>;

struct StoreCloser {
  void operator()(void *s) const noexcept { CertCloseStore(static_cast<HCERTSTORE>(s), 0); }
};
using Store = std::unique_ptr<void, StoreCloser>;

std::wstring WideOf(std::string_view utf8) {
  const std::u16string text = text::FromUtf8(utf8);
  return std::wstring(text.begin(), text.end());
}

// Every certificate of a PEM file, in a store of its own; null when there is none.
Store LoadBundle(const std::string &path, std::string &error) {
  const auto pem = files::ReadAll(text::FromUtf8(path));
  if (!pem) {
    error = "cannot read the CA bundle " + path;
    return nullptr;
  }
  Store store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
  std::size_t count = 0;
  constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----", kEnd = "-----END CERTIFICATE-----";
  for (std::size_t at = pem->find(kBegin); at != std::string::npos; at = pem->find(kBegin, at + 1)) {
    const std::size_t end = pem->find(kEnd, at);
    if (end == std::string::npos) break;
    const std::string block = pem->substr(at, end + kEnd.size() - at);
    DWORD size = 0;
    if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER, nullptr, &size,
                              nullptr, nullptr))
      continue;
    std::vector<BYTE> der(size);
    if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                              &size, nullptr, nullptr))
      continue;
    if (CertAddEncodedCertificateToStore(static_cast<HCERTSTORE>(store.get()), X509_ASN_ENCODING, der.data(), size,
                                         CERT_STORE_ADD_ALWAYS, nullptr))
      ++count;
  }
  if (count == 0) {
    error = "no certificate in the CA bundle " + path;
    return nullptr;
  }
  return store;
}

// The server's chain ends in a certificate of `roots` and names `host`. Checked by
// hand rather than with an engine bound to `roots`, which not every system honours.
bool TrustedBy(PCCERT_CONTEXT server, HCERTSTORE roots, const std::wstring &host) {
  // The chain is built from what the server sent and the bundle.
  Store pool(CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr));
  if (!pool) return false;
  CertAddStoreToCollection(static_cast<HCERTSTORE>(pool.get()), server->hCertStore, 0, 0);
  CertAddStoreToCollection(static_cast<HCERTSTORE>(pool.get()), roots, 0, 0);
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  if (!CertGetCertificateChain(nullptr, server, nullptr, static_cast<HCERTSTORE>(pool.get()), &para, 0, nullptr, &chain))
    return false;
  bool trusted = false;
  if (chain->cChain > 0 && chain->rgpChain[0]->cElement > 0) {
    const CERT_SIMPLE_CHAIN *simple = chain->rgpChain[0];
    PCCERT_CONTEXT top = simple->rgpElement[simple->cElement - 1]->pCertContext;
    PCCERT_CONTEXT ours = CertFindCertificateInStore(roots, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, top, nullptr);
    // Our root is not in the system's store: that, and unknown revocation, are the only errors allowed.
    const DWORD allowed = CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_REVOCATION_STATUS_UNKNOWN |
                          CERT_TRUST_IS_OFFLINE_REVOCATION;
    const bool rooted = ours != nullptr && simple->cElement >= 2 &&
                        (chain->TrustStatus.dwErrorStatus & ~allowed) == 0;
    if (ours != nullptr) CertFreeCertificateContext(ours);
    if (rooted) {
      SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
      ssl.cbSize = sizeof ssl;
      ssl.dwAuthType = AUTHTYPE_SERVER;
      ssl.fdwChecks = SECURITY_FLAG_IGNORE_UNKNOWN_CA;
      ssl.pwszServerName = const_cast<wchar_t *>(host.c_str());
      CERT_CHAIN_POLICY_PARA policy{};
      policy.cbSize = sizeof policy;
      policy.dwFlags = CERT_CHAIN_POLICY_ALLOW_UNKNOWN_CA_FLAG;
      policy.pvExtraPolicyPara = &ssl;
      CERT_CHAIN_POLICY_STATUS status{};
      status.cbSize = sizeof status;
      trusted = CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status) && status.dwError == 0;
    }
  }
  CertFreeCertificateChain(chain);
  return trusted;
}

struct Check {
  HCERTSTORE roots;
  std::wstring host;
  bool refused = false;
};

// Called once the TLS handshake is done and before the request goes out.
void CALLBACK OnStatus(HINTERNET request, DWORD_PTR context, DWORD status, void *, DWORD) {
  if (status != WINHTTP_CALLBACK_STATUS_SENDING_REQUEST || context == 0) return;
  auto *check = reinterpret_cast<Check *>(context);
  PCCERT_CONTEXT server = nullptr;
  DWORD size = sizeof server;
  const bool got = WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &server, &size) && server != nullptr;
  if (!got || !TrustedBy(server, check->roots, check->host)) {
    check->refused = true;
    WinHttpCloseHandle(request);  // the request is abandoned: nothing is sent
  }
  if (server != nullptr) CertFreeCertificateContext(server);
}

// Where a redirect leads: an absolute address, a path on the same server, or a
// path relative to the current one.
std::wstring Resolve(const std::wstring &current, const std::wstring &location) {
  if (location.rfind(L"https://", 0) == 0 || location.rfind(L"http://", 0) == 0) return location;
  const std::size_t authority = current.find(L"//");
  const std::size_t pathStart = current.find(L'/', authority == std::wstring::npos ? 0 : authority + 2);
  const std::wstring origin = pathStart == std::wstring::npos ? current : current.substr(0, pathStart);
  if (!location.empty() && location[0] == L'/') return origin + location;
  std::wstring path = pathStart == std::wstring::npos ? L"/" : current.substr(pathStart);
  path = path.substr(0, path.find_first_of(L"?#"));
  return origin + path.substr(0, path.rfind(L'/') + 1) + location;
}

std::wstring QueryHeader(HINTERNET call, DWORD what, DWORD *index) {
  DWORD size = 0;
  WinHttpQueryHeaders(call, what, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &size, index);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return {};
  std::wstring value(size / sizeof(wchar_t), L'\0');
  if (!WinHttpQueryHeaders(call, what, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &size, index)) return {};
  value.resize(size / sizeof(wchar_t));
  return value;
}

// Cookies set during this call only: name to "name=value".
void KeepCookies(HINTERNET call, std::vector<std::wstring> &jar) {
  for (DWORD index = 0;;) {
    const DWORD before = index;
    const std::wstring cookie = QueryHeader(call, WINHTTP_QUERY_SET_COOKIE, &index);
    if (cookie.empty() || index == before) break;
    const std::wstring pair = cookie.substr(0, cookie.find(L';'));
    const std::wstring name = pair.substr(0, pair.find(L'='));
    std::erase_if(jar, [&](const std::wstring &kept) { return kept.substr(0, kept.find(L'=')) == name; });
    jar.push_back(pair);
  }
}

}  // namespace

void GlobalInit() {}

Response Post(const Request &request) {
  Response response;
  Store roots;
  if (!request.caBundle.empty()) {
    roots = LoadBundle(request.caBundle, response.error);
    if (!roots) return response;
  }
  // The user's proxy settings (Internet Options), else a direct connection.
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG ie{};
  std::wstring proxy, bypass;
  if (WinHttpGetIEProxyConfigForCurrentUser(&ie)) {
    if (ie.lpszProxy != nullptr) proxy = ie.lpszProxy;
    if (ie.lpszProxyBypass != nullptr) bypass = ie.lpszProxyBypass;
    for (wchar_t *s : {ie.lpszProxy, ie.lpszProxyBypass, ie.lpszAutoConfigUrl})
      if (s != nullptr) GlobalFree(s);
  }
  const std::wstring agent = WideOf(request.userAgent.empty() ? "TavWebService" : request.userAgent);
  Internet session(WinHttpOpen(agent.c_str(), proxy.empty() ? WINHTTP_ACCESS_TYPE_DEFAULT_PROXY : WINHTTP_ACCESS_TYPE_NAMED_PROXY,
                               proxy.empty() ? WINHTTP_NO_PROXY_NAME : proxy.c_str(),
                               bypass.empty() ? WINHTTP_NO_PROXY_BYPASS : bypass.c_str(), 0));
  if (!session) {
    response.error = SystemMessage(GetLastError());
    return response;
  }
  const int connectMs = static_cast<int>(request.connectTimeout.count() * 1000);
  const int stallMs = static_cast<int>(request.stallTimeout.count() * 1000);
  WinHttpSetTimeouts(session.get(), connectMs, connectMs, stallMs, stallMs);

  // Redirects are followed here, not by WinHTTP: each hop is checked like the
  // first, stays on https, and carries the cookies this call was given.
  std::wstring url = WideOf(request.url);
  std::wstring method = L"POST";
  std::vector<std::wstring> jar;
  for (long hop = 0;; ++hop) {
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts) || parts.nScheme != INTERNET_SCHEME_HTTPS) {
      response.error = "only https addresses are allowed: " + text::ToUtf8(std::u16string(url.begin(), url.end()));
      return response;
    }
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    Internet connection(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
    if (!connection) {
      response.error = SystemMessage(GetLastError());
      return response;
    }
    Internet call(WinHttpOpenRequest(connection.get(), method.c_str(), path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                     WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
    if (!call) {
      response.error = SystemMessage(GetLastError());
      return response;
    }
    // The wait for the answer's headers has a limit of its own, which not every
    // WinHTTP takes from WinHttpSetTimeouts' receive value (Wine's does not).
    DWORD responseMs = static_cast<DWORD>(stallMs);
    WinHttpSetOption(call.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseMs, sizeof responseMs);
    DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    WinHttpSetOption(call.get(), WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never);
    DWORD noCookies = WINHTTP_DISABLE_COOKIES;
    WinHttpSetOption(call.get(), WINHTTP_OPTION_DISABLE_FEATURE, &noCookies, sizeof noCookies);
    Check check{static_cast<HCERTSTORE>(roots.get()), host};
    if (roots) {
      // The system's own check would refuse a chain it does not know; ours replaces it,
      // before the request is sent.
      DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA;
      WinHttpSetOption(call.get(), WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
      WinHttpSetStatusCallback(call.get(), OnStatus, WINHTTP_CALLBACK_FLAG_SEND_REQUEST, 0);
    }
    std::wstring headers;
    for (const auto &h : request.headers) headers += WideOf(h) + L"\r\n";
    if (!jar.empty()) {
      headers += L"Cookie: ";
      for (std::size_t k = 0; k < jar.size(); ++k) headers += (k > 0 ? L"; " : L"") + jar[k];
      headers += L"\r\n";
    }
    const bool withBody = method == L"POST";
    const DWORD bodySize = withBody ? static_cast<DWORD>(request.body.size()) : 0;
    const BOOL sent = WinHttpSendRequest(call.get(), headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                                         static_cast<DWORD>(headers.size()),
                                         withBody ? const_cast<char *>(request.body.data()) : nullptr, bodySize,
                                         bodySize, reinterpret_cast<DWORD_PTR>(roots ? &check : nullptr));
    if (check.refused) {
      (void)call.release();  // closed by the check
      response.error = "the gateway's certificate is not trusted by " + request.caBundle;
      return response;
    }
    if (!sent || !WinHttpReceiveResponse(call.get(), nullptr)) {
      response.error = SystemMessage(GetLastError());
      return response;
    }
    DWORD status = 0, size = sizeof status;
    WinHttpQueryHeaders(call.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                        &status, &size, WINHTTP_NO_HEADER_INDEX);
    const bool redirect = status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
    const std::wstring location = redirect ? QueryHeader(call.get(), WINHTTP_QUERY_LOCATION, WINHTTP_NO_HEADER_INDEX) : L"";
    if (redirect && !location.empty()) {
      if (hop >= request.maxRedirects) {
        response.error = "more than " + std::to_string(request.maxRedirects) + " redirects";
        return response;
      }
      KeepCookies(call.get(), jar);
      url = Resolve(url, location);
      if (status != 307 && status != 308) method = L"GET";  // 301, 302 and 303 turn into GET
      continue;
    }
    for (;;) {
      char buffer[16384];
      DWORD got = 0;
      if (!WinHttpReadData(call.get(), buffer, sizeof buffer, &got)) {
        response.error = SystemMessage(GetLastError());
        return response;
      }
      if (got == 0) break;
      if (response.body.size() + got > request.maxAnswer) {
        response.error = "the answer is larger than " + std::to_string(request.maxAnswer) + " bytes";
        response.body.clear();
        return response;
      }
      response.body.append(buffer, got);
    }
    response.status = static_cast<long>(status);
    response.ok = true;
    return response;
  }
}

}  // namespace tav::https
