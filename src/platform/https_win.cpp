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

// The server's chain ends in a certificate of `roots` and names `host`.
bool TrustedBy(PCCERT_CONTEXT server, HCERTSTORE roots, const std::wstring &host) {
  CERT_CHAIN_ENGINE_CONFIG config{};
  config.cbSize = sizeof config;
  config.hExclusiveRoot = roots;
  HCERTCHAINENGINE engine = nullptr;
  if (!CertCreateCertificateChainEngine(&config, &engine)) return false;
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  bool trusted = false;
  if (CertGetCertificateChain(engine, server, nullptr, server->hCertStore, &para, 0, nullptr, &chain)) {
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = const_cast<wchar_t *>(host.c_str());
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    trusted = CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status) && status.dwError == 0;
    CertFreeCertificateChain(chain);
  }
  CertFreeCertificateChainEngine(engine);
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

}  // namespace

void GlobalInit() {}

Response Post(const Request &request) {
  Response response;
  const std::wstring url = WideOf(request.url);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts) || parts.nScheme != INTERNET_SCHEME_HTTPS) {
    response.error = "only https addresses are allowed: " + request.url;
    return response;
  }
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
  path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);

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
  Internet connection(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
  if (!connection) {
    response.error = SystemMessage(GetLastError());
    return response;
  }
  Internet call(WinHttpOpenRequest(connection.get(), L"POST", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                   WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
  if (!call) {
    response.error = SystemMessage(GetLastError());
    return response;
  }
  DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP;
  WinHttpSetOption(call.get(), WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy);
  DWORD redirects = static_cast<DWORD>(request.maxRedirects);
  WinHttpSetOption(call.get(), WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, &redirects, sizeof redirects);
  Check check{static_cast<HCERTSTORE>(roots.get()), host};
  if (roots) {
    // The system's own check would refuse a chain it does not know; ours replaces it.
    DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA;
    WinHttpSetOption(call.get(), WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
    WinHttpSetStatusCallback(call.get(), OnStatus, WINHTTP_CALLBACK_FLAG_SEND_REQUEST, 0);
  }
  std::wstring headers;
  for (const auto &h : request.headers) headers += WideOf(h) + L"\r\n";
  const BOOL sent = WinHttpSendRequest(call.get(), headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                                       static_cast<DWORD>(headers.size()), const_cast<char *>(request.body.data()),
                                       static_cast<DWORD>(request.body.size()), static_cast<DWORD>(request.body.size()),
                                       reinterpret_cast<DWORD_PTR>(roots ? &check : nullptr));
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

}  // namespace tav::https
