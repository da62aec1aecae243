// One run of the listener, from Start to Stop: the event loop and its threads,
// the listening sockets, the register of open connections, and the sweep that
// closes connections past their deadline.
#pragma once

#include <asio/executor_work_guard.hpp>

#include <mutex>
#include <optional>

#include "http/detail/acceptors.h"
#include "http/detail/connection.h"
#include "http/detail/connection_register.h"
#include "http/detail/loop_threads.h"

namespace tav::http::detail {

class Service final : public ConnectionHost {
 public:
  Service(const Limits &limits, HandlerPool &pool);
  Service(const Service &) = delete;
  Service &operator=(const Service &) = delete;

  asio::io_context &Io() { return io_; }
  // Takes a bound socket; false when it cannot listen.
  bool Listen(tcp::acceptor acceptor) { return acceptors_.Listen(std::move(acceptor), limits_.listenQueue); }
  // Starts the threads; connections are accepted from now on.
  void Run();
  // Closes the listening sockets and every connection (once; later calls only
  // wait), lets the actions in flight finish, and returns true when every thread
  // has ended, false when some are still inside an action at `deadline`.
  bool Stop(Clock::time_point deadline);

  std::size_t Open() const { return register_.Open(); }
  std::size_t Threads() const { return threads_.Count(); }

  // ConnectionHost
  const Limits &ConnectionLimits() const override { return limits_; }
  HandlerPool &Pool() override { return pool_; }
  bool BeginAction(Connection &connection) override;
  void EndAction(Connection &connection) override;
  void Leave(Connection &connection) override { register_.Leave(&connection); }

 private:
  void StartConnection(net::NativeSocket native, const net::PeerAddress &peer);
  void ArmSweep();
  void Sweep();
  bool EndSweep();  // true for the call that ended it
  void CloseConnections();

  const Limits limits_;
  HandlerPool &pool_;
  // The register (declared before the loop: connections leave it as the loop ends).
  ConnectionRegister<Connection, asio::ip::address> register_;
  asio::io_context io_;
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work_;
  Acceptors acceptors_;
  const std::chrono::milliseconds sweepInterval_;
  std::mutex sweepMutex_;  // the sweep is armed, or ended, by one thread at a time
  bool sweepClosed_ = false;
  asio::steady_timer sweep_;
  LoopThreads threads_;
};

}  // namespace tav::http::detail
