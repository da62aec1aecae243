// Every limit of the HTTP service, in one place. Tests shrink them.
#pragma once

#include <chrono>
#include <cstddef>

namespace tav::http {

struct Limits {
  std::size_t maxLine = 16384;         // bytes of a request or header line before its line feed
  std::size_t maxHeaderLines = 1024;   // header lines of one request
  std::size_t maxBody = 1 << 20;       // body bytes (Content-Length, or the chunked total): 413 beyond
  std::chrono::milliseconds idleTimeout{30000};  // a connection silent this long while its request is read is closed
  std::size_t maxConnections = 1024;   // connections served at once: 503 beyond
  std::size_t maxActiveModules = 32;   // web module instances serving requests at once
  std::chrono::milliseconds bodyProbe{1};  // wait that decides whether an unframed POST/PUT has a body
  int listenQueue = 128;               // listen backlog
  std::size_t threadStack = 512 * 1024;  // connection thread stack (pages are only committed when touched)
};

}  // namespace tav::http
