// A small HTTPS client over libcurl: one easy handle per call.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace tav::https {

struct Request {
  std::string url;
  std::vector<std::string> headers;  // "Name: value"
  std::string body;                  // sent as is, also when empty
  std::string caBundle;              // PEM file to verify the peer; empty: the platform's store
  std::string userAgent;
  long maxRedirects = 5;
  std::chrono::seconds connectTimeout{30};
  std::chrono::seconds stallTimeout{30};  // longest wait without progress, sending or receiving
  std::size_t maxAnswer = 1 << 20;        // answer bytes kept at most; more aborts the call
};

struct Response {
  bool ok = false;     // the exchange completed (whatever the status)
  long status = 0;     // final status, after redirects
  std::string error;   // curl's reason when !ok
  std::string body;
};

// POST with redirects followed (301/302/303 turn into GET, 307/308 repeat the
// POST), cookies kept within this call only, https only, the user's proxy
// environment honoured.
Response Post(const Request &request);

// Once per process before any thread starts (main, tests).
void GlobalInit();

}  // namespace tav::https
