// One connection, from the accept to the close: read the request, probe for an
// unframed body, serve it, send the answer, linger after a refusal, close.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "http/detail/loop.h"
#include "http/detail/request_reader.h"
#include "http/limits.h"
#include "platform/sockets.h"

namespace tav::http {
class HandlerPool;
}

namespace tav::http::detail {

class Connection;

// What a connection needs from the run that accepted it.
class ConnectionHost {
 public:
  virtual const Limits &ConnectionLimits() const = 0;
  virtual HandlerPool &Pool() = 0;
  // Around the action of a complete request; BeginAction is false when stopping
  // (the action must not start).
  virtual bool BeginAction(Connection &connection) = 0;
  virtual void EndAction(Connection &connection) = 0;
  // The connection closes: it leaves the register.
  virtual void Leave(Connection &connection) = 0;

 protected:
  ~ConnectionHost() = default;
};

// Everything but the constructor, RefuseNow and PublishedDeadline runs on the
// connection's strand.
//
// A connection whose request is there at once is served without the event loop
// ever watching its socket; only one that must wait for bytes, or for room to
// write, is registered with the loop (asio's socket), which costs two more
// system calls.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(ConnectionHost &host, Strand strand, net::NativeSocket native, asio::ip::address peer);
  Connection(const Connection &) = delete;
  Connection &operator=(const Connection &) = delete;
  ~Connection();

  const Strand &Executor() const { return strand_; }
  const asio::ip::address &Peer() const { return peer_; }
  net::NativeSocket Native() const { return native_; }
  // The deadline as last published for the sweep, in clock ticks; any thread.
  Clock::rep PublishedDeadline() const { return published_.load(std::memory_order_relaxed); }

  void Start();
  void Abort() { Close(); }
  // Closes the connection if its deadline has passed (the sweep found it late).
  void Expire();
  // Over a connection limit: reads what already arrived (so that the close does
  // not reset the answer away), answers 503 and closes. Before Start, on any thread.
  void RefuseNow();

 private:
  enum class After { Read, Linger, Close };

  // Reads what is there into the request (or drops it while lingering).
  net::IoResult Receive(bool keep);
  // The socket as the event loop's; false when it cannot be registered.
  bool Register();
  // Waits until the socket can be read (then Advance, or Drain while lingering)
  // or written (then Flush).
  void Wait(tcp::socket::wait_type what);
  // Runs the reader until it needs bytes that are not there yet, or has an outcome.
  void Advance();
  void ProbeBody();
  void Serve(RequestRecord &request);
  void Refuse(const Refused &refused);
  void Send(std::string bytes, After after);
  void Flush();
  void Linger();
  void Drain();
  void Touch();  // bytes moved: the idle limit starts again
  Clock::time_point Deadline() const;
  void Publish() { published_.store(Deadline().time_since_epoch().count(), std::memory_order_relaxed); }
  void Close();

  ConnectionHost &host_;
  const Limits &limits_;
  Strand strand_;
  const net::NativeSocket native_;
  std::optional<Socket> socket_;  // once registered with the loop: owns the native socket
  const asio::ip::address peer_;
  std::atomic<Clock::rep> published_{Clock::time_point::max().time_since_epoch().count()};
  std::optional<Timer> probe_;
  RequestReader reader_;
  std::string data_;
  std::string out_;
  std::size_t outPos_ = 0;
  std::size_t drained_ = 0;
  After after_ = After::Close;
  bool peerClosed_ = false;
  bool requestDone_ = false;  // delivered or refused: the total deadline no longer applies
  bool lingering_ = false;
  bool closed_ = false;
  Clock::time_point started_;
  Clock::time_point lastActivity_;
  Clock::time_point lingerUntil_;
};

}  // namespace tav::http::detail
