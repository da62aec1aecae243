// The HTTP listener: IPv4 and IPv6 sockets on one port, a thread per binding that
// accepts, a thread per connection that serves exactly one request.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "http/limits.h"

namespace tav::http {

class HandlerPool;

struct Binding {
  int ipVersion = 4;        // 4 or 6
  std::string address;      // empty: all local addresses
  std::uint16_t port = 0;   // after a start: the port actually bound
};

class HttpListener {
 public:
  // Serves with `pool` (the process-wide pool by default).
  explicit HttpListener(HandlerPool *pool = nullptr, Limits limits = Limits{});
  HttpListener(const HttpListener &) = delete;
  HttpListener &operator=(const HttpListener &) = delete;
  // Stops first.
  ~HttpListener();

  // Starts listening (nothing when active); throws tav::Error
  // "Could not bind socket. Address and port are already in use." and stays inactive.
  // Stops (nothing when inactive): returns when every connection thread has ended.
  void SetActive(bool active);
  bool Active() const;

  std::uint16_t DefaultPort() const;
  void SetDefaultPort(std::uint16_t port);
  std::vector<Binding> Bindings() const;
  void ClearBindings();

  // Connections being served now.
  std::size_t OpenConnections() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tav::http
