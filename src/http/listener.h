// The HTTP listener: IPv4 and IPv6 sockets on one port. An event loop accepts the
// connections and reads their requests, so a connection that waits costs no
// thread; a complete request runs its action on a thread of its own, and each
// connection serves exactly one request.
#pragma once

#include <chrono>
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
  // Stops (nothing when inactive): closes every connection and waits for the
  // actions in flight, Limits::stopWait at most (as Stop).
  void SetActive(bool active);
  // Stops, waiting for the actions in flight until `deadline` at most. An action
  // still running then (a hung business call) ends on its own thread later; its
  // answer is dropped and the run's threads are joined by a later Start or Stop.
  // Without such an action, no thread of the listener is left when this returns.
  void Stop(std::chrono::steady_clock::time_point deadline);
  bool Active() const;

  std::uint16_t DefaultPort() const;
  void SetDefaultPort(std::uint16_t port);
  std::vector<Binding> Bindings() const;
  void ClearBindings();

  // Connections open now (being read, served or answered).
  std::size_t OpenConnections() const;
  // Threads of the listener alive now (event loop and actions).
  std::size_t Threads() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tav::http
