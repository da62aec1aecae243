#include "http/detail/service.h"

#include <asio/dispatch.hpp>
#include <asio/post.hpp>

#include <algorithm>

namespace tav::http::detail {
namespace {

// How often deadlines are looked at: often enough for the shortest of them.
std::chrono::milliseconds SweepInterval(const Limits &limits) {
  const auto shortest = std::min({limits.idleTimeout, limits.requestTimeout, limits.lingerTime});
  return std::clamp(shortest / 4, std::chrono::milliseconds(5), std::chrono::milliseconds(250));
}

asio::ip::address ToAddress(const net::PeerAddress &peer) {
  if (peer.ipVersion == 6) return asio::ip::address_v6(peer.bytes);
  return asio::ip::address_v4(asio::ip::address_v4::bytes_type{peer.bytes[0], peer.bytes[1], peer.bytes[2], peer.bytes[3]});
}

}  // namespace

Service::Service(const Limits &limits, HandlerPool &pool)
    : limits_(limits),
      pool_(pool),
      register_(limits.maxConnections, limits.maxConnectionsPerPeer),
      acceptors_(io_, [this](net::NativeSocket native, const net::PeerAddress &peer) { StartConnection(native, peer); }),
      sweepInterval_(SweepInterval(limits)),
      sweep_(io_),
      threads_(io_, limits.eventThreads, limits.maxThreads, [this] { acceptors_.Resume(); }) {}

void Service::Run() {
  work_.emplace(io_.get_executor());
  ArmSweep();
  acceptors_.Resume();
  threads_.Start();
}

void Service::StartConnection(net::NativeSocket native, const net::PeerAddress &peer) {
  auto connection = std::make_shared<Connection>(*this, asio::make_strand(io_), native, ToAddress(peer));
  switch (register_.Admit(connection.get(), connection->Peer(), connection)) {
    case decltype(register_)::Admission::Accept:
      // Runs here and now: the strand is new and this thread runs the loop.
      asio::dispatch(connection->Executor(), [connection] { connection->Start(); });
      break;
    case decltype(register_)::Admission::Refuse:
      connection->RefuseNow();
      break;
    case decltype(register_)::Admission::Stopping:
      break;  // the socket closes with the connection
  }
}

// A thread that took the connection in its accept loop hands the accept role to a
// free loop thread first, so that accepting never waits for the action (with no
// free thread, the supervisor adds one if it stalls).
bool Service::BeginAction(Connection &connection) {
  if (!register_.BeginServing(&connection)) return false;
  if (threads_.EnterAction()) acceptors_.HandOff();
  return true;
}

void Service::EndAction(Connection &connection) {
  threads_.LeaveAction();
  register_.EndServing(&connection);
}

void Service::ArmSweep() {
  std::lock_guard lock(sweepMutex_);
  if (sweepClosed_) return;
  sweep_.expires_after(sweepInterval_);
  sweep_.async_wait([this](const asio::error_code &ec) {
    if (!ec) Sweep();
  });
}

// Closes the connections past their deadline. The deadline each one published is
// looked at here; the connection itself decides, on its strand, with the latest one.
void Service::Sweep() {
  const Clock::rep now = Clock::now().time_since_epoch().count();
  const auto late = register_.Select([now](Connection *connection) { return connection->PublishedDeadline() <= now; });
  for (auto &connection : late) asio::post(connection->Executor(), [connection] { connection->Expire(); });
  ArmSweep();
}

bool Service::EndSweep() {
  std::lock_guard lock(sweepMutex_);
  if (sweepClosed_) return false;
  sweepClosed_ = true;
  sweep_.cancel();
  return true;
}

bool Service::Stop(Clock::time_point deadline) {
  acceptors_.Close();
  if (EndSweep()) {  // the first Stop
    CloseConnections();
    work_.reset();  // the loop ends once the last connection is done
  }
  return threads_.Join(deadline);
}

void Service::CloseConnections() {
  // A connection inside its action runs on; the answer it writes then fails on the
  // closed socket. The others are closed on their strands.
  const auto reading = register_.Stop([](Connection *serving) { net::ShutdownBoth(serving->Native()); });
  for (auto &connection : reading) asio::post(connection->Executor(), [connection] { connection->Abort(); });
}

}  // namespace tav::http::detail
