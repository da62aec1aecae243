// The listening sockets of one run and the loop that takes their connections.
// A loop thread takes the connections that wait (a batch at most) and hands each
// to `take` at once; when that connection starts an action, the accept role can
// be handed to a free loop thread first, so that accepting never waits for it.
#pragma once

#include <functional>
#include <list>
#include <mutex>
#include <optional>

#include "http/detail/loop.h"
#include "http/listener.h"
#include "platform/sockets.h"

namespace tav::http::detail {

class Acceptors {
 public:
  using Take = std::function<void(net::NativeSocket, const net::PeerAddress &)>;

  Acceptors(asio::io_context &io, Take take) : io_(io), take_(std::move(take)) {}
  Acceptors(const Acceptors &) = delete;
  Acceptors &operator=(const Acceptors &) = delete;

  // Takes a bound socket; false when it cannot listen.
  bool Listen(tcp::acceptor acceptor, int queue);
  // A loop thread goes (back) to taking connections from every socket.
  void Resume();
  // On the thread of an action: when this thread took the connection in its
  // accept loop, another loop thread goes on accepting (posted).
  void HandOff();
  // Closes the listening sockets (once); a wait still armed ends as aborted.
  void Close();

 private:
  struct Listening {
    Listening(tcp::acceptor a, asio::io_context &io)
        : acceptor(std::move(a)), native(static_cast<net::NativeSocket>(acceptor.native_handle())), pause(io) {}
    tcp::acceptor acceptor;
    net::NativeSocket native;
    asio::steady_timer pause;
    bool waiting = false;  // a wait for the next connection is armed (or a pause)
  };
  // The accept loop a thread is in, while it serves a connection it took.
  struct Turn {
    Acceptors *owner;
    Listening *listening;
    bool handedOff = false;  // another thread goes on accepting
  };
  static thread_local Turn *currentTurn;

  void AcceptLoop(Listening &listening);

  asio::io_context &io_;
  const Take take_;
  std::mutex mutex_;  // accepts are made or armed, or ended, by one thread at a time
  bool closed_ = false;
  std::list<Listening> listening_;
};

bool Ipv6Supported(asio::io_context &io);
// Opens and binds a listening socket; `binding.port` is then the port bound.
std::optional<tcp::acceptor> OpenAndBind(asio::io_context &io, Binding &binding);

}  // namespace tav::http::detail
