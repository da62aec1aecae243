// When a connection is closed for taking too long: a pure function of its times
// and counts, so that the rule can be read, and tested as a table, on its own.
#pragma once

#include <chrono>
#include <cstddef>

#include "http/limits.h"

namespace tav::http::detail {

struct ConnectionTimes {
  std::chrono::steady_clock::time_point started;       // the accept
  std::chrono::steady_clock::time_point lastActivity;  // the last byte that moved
  std::chrono::steady_clock::time_point lingerUntil;   // while lingering after a refusal
  bool lingering = false;
  bool requestDone = false;  // delivered or refused: the total limit no longer applies
  std::size_t bodyBytes = 0;  // body received so far (not framing or trailers)
};

// The idle limit counts from the last byte that moved; the total limit from the
// accept, grown by one second per `minBodyRate` body bytes (framing and trailers
// buy no time); a lingering connection ends at its linger time.
inline std::chrono::steady_clock::time_point ConnectionDeadline(const ConnectionTimes &t, const Limits &limits) {
  if (t.lingering) return t.lingerUntil;
  auto at = t.lastActivity + limits.idleTimeout;
  if (!t.requestDone) {
    auto total = t.started + limits.requestTimeout;
    if (limits.minBodyRate > 0) total += std::chrono::seconds(t.bodyBytes / limits.minBodyRate);
    if (total < at) at = total;
  }
  return at;
}

}  // namespace tav::http::detail
