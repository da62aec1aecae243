// Every limit of the HTTP service, in one place. Tests shrink them; the operator
// may set some in TavWebService.ini, section [SERVIDOR] (LimitsFromSettings).
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace tav::http {

struct Limits {
  std::size_t maxLine = 16384;         // bytes of any line before its line feed: request, header,
                                       // chunk size (with its extensions), trailer
  std::size_t maxHeaderLines = 1024;   // header and trailer lines of one request, together
  std::size_t maxBody = 1 << 20;       // body bytes (Content-Length, or the chunked total): 413 beyond
  // Every other byte one request may send: request line, headers, chunk framing
  // and trailers together. Over it the connection is closed, as for a line too long.
  std::size_t maxOverhead = 256 << 10;
  // A connection silent this long while its request is read, or while it does not
  // take its answer, is closed.
  std::chrono::milliseconds idleTimeout{30000};
  // The whole request (head and body) must arrive within this time of the accept...
  std::chrono::milliseconds requestTimeout{60000};
  // ...which grows by one second for each this many body bytes received, so a large
  // body sent at least this fast (bytes per second) is never cut; 0: no growth.
  std::size_t minBodyRate = 8192;
  std::size_t maxConnections = 16384;  // connections open at once: 503 beyond
  std::size_t maxConnectionsPerPeer = 64;  // connections open at once from one peer address: 503 beyond
  std::size_t maxActiveModules = 32;   // web module instances serving requests at once
  std::chrono::milliseconds bodyProbe{1};  // wait that decides whether an unframed POST/PUT has a body
  std::chrono::milliseconds lingerTime{500};  // after a refusal, how long the rest of a request is read and dropped
  int listenQueue = 128;               // listen backlog
  // Threads that run the event loop (accept, read, run the action, write). When
  // every one of them is stuck inside an action, another thread takes the loop.
  std::size_t eventThreads = 1;
  std::size_t maxThreads = 128;        // event-loop threads and threads inside actions, together
  // How long Stop waits for the actions in flight; one that has not ended by then
  // (a business call hung on a database lock) finishes on its own thread later,
  // and its answer is dropped.
  std::chrono::milliseconds stopWait{2000};
};

// The defaults with the operator's settings applied. `value` gives the text of a
// key of [SERVIDOR] (empty when absent). Keys, all whole positive numbers:
//   MAXCONEXOES            maxConnections
//   MAXCONEXOESPORCLIENTE  maxConnectionsPerPeer
//   TEMPOOCIOSO            idleTimeout, seconds
//   TEMPOREQUISICAO        requestTimeout, seconds
//   TAXAMINIMACORPO        minBodyRate, bytes per second (0 allowed: no growth)
// A value that is not such a number keeps the default and is named in `problems`
// ("TEMPOOCIOSO='abc'"), so the caller can report it.
Limits LimitsFromSettings(const std::function<std::u16string(std::u16string_view key)> &value,
                          std::u16string *problems = nullptr);

}  // namespace tav::http
