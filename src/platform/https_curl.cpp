#include "platform/https.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace tav::https {
namespace {

struct EasyCleanup {
  void operator()(CURL *c) const noexcept { curl_easy_cleanup(c); }
};
struct SlistCleanup {
  void operator()(curl_slist *l) const noexcept { curl_slist_free_all(l); }
};

struct Sink {
  std::string *out;
  std::size_t limit;
};

std::size_t WriteAnswer(char *data, std::size_t size, std::size_t count, void *user) {
  auto *sink = static_cast<Sink *>(user);
  const std::size_t n = size * count;
  if (sink->out->size() + n > sink->limit) return 0;  // curl aborts the transfer
  sink->out->append(data, n);
  return n;
}

class Setup {
 public:
  explicit Setup(CURL *curl) : curl_(curl) {}
  template <typename T>
  Setup &operator()(CURLoption option, T value) {
    if (code_ == CURLE_OK) code_ = curl_easy_setopt(curl_, option, value);
    return *this;
  }
  CURLcode code() const { return code_; }

 private:
  CURL *curl_;
  CURLcode code_ = CURLE_OK;
};

}  // namespace

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

Response Post(const Request &request) {
  GlobalInit();
  Response response;
  char errorBuffer[CURL_ERROR_SIZE] = {};  // outlives the handle declared after it
  std::unique_ptr<CURL, EasyCleanup> curl(curl_easy_init());
  if (!curl) {
    response.error = "cannot create an HTTP client";
    return response;
  }
  std::unique_ptr<curl_slist, SlistCleanup> headers;
  for (const auto &h : request.headers) {
    curl_slist *next = curl_slist_append(headers.get(), h.c_str());
    if (next == nullptr) {
      response.error = "out of memory";
      return response;
    }
    (void)headers.release();
    headers.reset(next);
  }
  Sink sink{&response.body, request.maxAnswer};
  Setup set(curl.get());
  set(CURLOPT_ERRORBUFFER, errorBuffer)
     (CURLOPT_NOSIGNAL, 1L)
     (CURLOPT_URL, request.url.c_str())
     (CURLOPT_PROTOCOLS_STR, "https")
     (CURLOPT_REDIR_PROTOCOLS_STR, "https")
     (CURLOPT_POST, 1L)
     (CURLOPT_POSTFIELDS, request.body.data())
     (CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()))
     (CURLOPT_HTTPHEADER, headers.get())
     (CURLOPT_FOLLOWLOCATION, 1L)
     (CURLOPT_MAXREDIRS, request.maxRedirects)
     (CURLOPT_COOKIEFILE, "")  // in-memory cookies for this handle only
     (CURLOPT_CONNECTTIMEOUT, static_cast<long>(request.connectTimeout.count()))
     (CURLOPT_LOW_SPEED_LIMIT, 1L)
     (CURLOPT_LOW_SPEED_TIME, static_cast<long>(request.stallTimeout.count()))
     (CURLOPT_SSL_VERIFYPEER, 1L)
     (CURLOPT_SSL_VERIFYHOST, 2L)
     (CURLOPT_WRITEFUNCTION, WriteAnswer)
     (CURLOPT_WRITEDATA, &sink);
  if (!request.userAgent.empty()) set(CURLOPT_USERAGENT, request.userAgent.c_str());
  if (!request.caBundle.empty()) set(CURLOPT_CAINFO, request.caBundle.c_str());
  if (set.code() != CURLE_OK) {
    response.error = curl_easy_strerror(set.code());
    return response;
  }
  const CURLcode rc = curl_easy_perform(curl.get());
  if (rc != CURLE_OK) {
    response.error = errorBuffer[0] != '\0' ? errorBuffer : curl_easy_strerror(rc);
    return response;
  }
  curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &response.status);
  response.ok = true;
  return response;
}

}  // namespace tav::https
