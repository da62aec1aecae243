#include "http/listener.h"

#include <asio/dispatch.hpp>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/ip/v6_only.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/strand.hpp>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <ctime>
#include <list>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>

#include "http/detail/connection_register.h"
#include "http/detail/deadline.h"
#include "http/request_reader.h"
#include "http/response.h"
#include "http/web.h"
#include "platform/errors.h"
#include "platform/no_destructor.h"
#include "platform/sockets.h"

namespace tav::http {
namespace {

using Clock = std::chrono::steady_clock;
using tcp = asio::ip::tcp;
using Strand = asio::strand<asio::io_context::executor_type>;
// Every connection has a strand: its reads, writes and timers never run at once.
using Socket = tcp::socket::rebind_executor<Strand>::other;
using Timer = asio::basic_waitable_timer<Clock, asio::wait_traits<Clock>, Strand>;

constexpr char kBindFailure[] = "Could not bind socket. Address and port are already in use.";
constexpr std::size_t kReadChunk = 65536;
constexpr std::size_t kMaxDrain = 4u << 20;                  // bytes read and dropped after a refusal
constexpr auto kRetireAfter = std::chrono::seconds(10);      // an extra thread idle this long ends
constexpr auto kAcceptPause = std::chrono::milliseconds(10);  // after accept failed for want of resources
constexpr int kAcceptBatch = 16;  // connections taken in a row before the loop looks at the others
// Every loop thread inside an action this long, none finishing: another thread takes the loop.
constexpr auto kStallGrace = std::chrono::milliseconds(2);
constexpr auto kSupervisorRest = std::chrono::seconds(1);     // no action this long: the supervisor sleeps

// Bytes arrive here first; a connection keeps only what it received, so a
// connection that waits holds no buffer of its own.
char *ReadBuffer() {
  thread_local std::unique_ptr<char[]> buffer;
  if (!buffer) buffer = std::make_unique_for_overwrite<char[]>(kReadChunk);
  return buffer.get();
}

// How often deadlines are looked at: often enough for the shortest of them.
std::chrono::milliseconds SweepInterval(const Limits &limits) {
  const auto shortest = std::min({limits.idleTimeout, limits.requestTimeout, limits.lingerTime});
  return std::clamp(shortest / 4, std::chrono::milliseconds(5), std::chrono::milliseconds(250));
}

asio::ip::address ToAddress(const net::PeerAddress &peer) {
  if (peer.ipVersion == 6) return asio::ip::address_v6(peer.bytes);
  return asio::ip::address_v4(asio::ip::address_v4::bytes_type{peer.bytes[0], peer.bytes[1], peer.bytes[2], peer.bytes[3]});
}

std::string StatusOnly(int status) {
  ResponseRecord response;
  response.SetStatus(status);
  StringSink out;
  WriteHeader(response, out, std::time(nullptr));
  return std::move(out.data);
}

class Service;

// One connection, from the accept to the close. Everything but the constructor,
// RefuseNow and PublishedDeadline runs on the connection's strand.
//
// A connection whose request is there at once is served without the event loop
// ever watching its socket; only one that must wait for bytes, or for room to
// write, is registered with the loop (asio's socket), which costs two more
// system calls.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(Service &service, Strand strand, net::NativeSocket native, asio::ip::address peer);
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
  void Serve(RequestRecord &request);
  void Send(std::string bytes, After after);
  void Flush();
  void Linger();
  void Drain();
  void Touch();  // bytes moved: the idle limit starts again
  Clock::time_point Deadline() const;
  void Publish() { published_.store(Deadline().time_since_epoch().count(), std::memory_order_relaxed); }
  void Close();

  Service &service_;
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

// One run of the listener, from Start to Stop: the event loop and its threads,
// the listening sockets, and the register of open connections with their counts.
//
// One thread runs the loop and, inline, the action of each complete request, so
// a request costs no hand-over between threads. A supervisor watches the actions:
// when every loop thread has been inside one for a while and none finishes,
// it starts another thread for the loop; spare threads end when idle.
class Service {
 public:
  Service(const Limits &limits, HandlerPool &pool)
      : limits(limits),
        pool(pool),
        register_(limits.maxConnections, limits.maxConnectionsPerPeer),
        sweepInterval_(SweepInterval(limits)),
        sweep_(io_) {}
  Service(const Service &) = delete;
  Service &operator=(const Service &) = delete;

  asio::io_context &Io() { return io_; }
  // Takes a bound socket; false when it cannot listen.
  bool Listen(tcp::acceptor acceptor);
  // Starts the threads; connections are accepted from now on.
  void Run();
  // Closes the listening sockets and every connection (once; later calls only
  // wait), lets the actions in flight finish, and returns true when every thread
  // has ended, false when some are still inside an action at `deadline`.
  bool Stop(Clock::time_point deadline);

  using Register = detail::ConnectionRegister<Connection, asio::ip::address>;
  using Admission = Register::Admission;
  Admission Admit(Connection &connection, const std::shared_ptr<Connection> &shared) {
    return register_.Admit(&connection, connection.Peer(), shared);
  }
  void Leave(Connection &connection);
  // A connection that runs its action; false when the service is stopping.
  bool BeginServing(Connection &connection);
  void EndServing(Connection &connection);
  std::size_t Open() const;
  std::size_t Threads() const;

  // Around an action. A thread that took the connection in its accept loop hands
  // the accept role to a free loop thread first, so that accepting never waits
  // for the action (with no free thread, the supervisor adds one if it stalls).
  void EnterAction();
  void LeaveAction();

  const Limits limits;
  HandlerPool &pool;

 private:
  struct Listening {
    Listening(tcp::acceptor a, asio::io_context &io)
        : acceptor(std::move(a)), native(static_cast<net::NativeSocket>(acceptor.native_handle())), pause(io) {}
    tcp::acceptor acceptor;
    net::NativeSocket native;
    asio::steady_timer pause;
    bool waiting = false;  // a wait for the next connection is armed (or a pause)
  };

  // Takes the connections that wait (a batch at most), serving each at once,
  // then waits for the next ones.
  void AcceptLoop(Listening &listening);
  // The accept loop this thread is in, while it serves a connection it took.
  struct AcceptTurn {
    Service *service;
    Listening *listening;
    bool handedOff = false;  // another thread goes on accepting
  };
  static thread_local AcceptTurn *currentTurn;
  void ResumeAccepting();
  void StartConnection(net::NativeSocket native, const net::PeerAddress &peer);
  void ArmSweep();
  void Sweep();
  void Spawn();  // under threadMutex_
  void ThreadBody(std::list<std::thread>::iterator self);
  void Supervise();
  void CloseConnections();  // under acceptMutex_, once

  // The register (declared before the loop: connections leave it as the loop ends).
  Register register_;

  mutable std::mutex threadMutex_;
  std::condition_variable threadEnded_;
  std::condition_variable supervisorWake_;
  std::list<std::thread> threads_;
  std::vector<std::thread> finished_;  // ended, to be joined
  std::thread supervisor_;
  bool supervising_ = false;
  bool supervisorAsleep_ = false;
  std::size_t busy_ = 0;  // threads inside an action
  std::uint64_t actionsStarted_ = 0;
  std::uint64_t actionsFinished_ = 0;

  const std::chrono::milliseconds sweepInterval_;
  asio::io_context io_;
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work_;
  std::mutex acceptMutex_;  // accepts and sweeps are made or armed, or ended, by one thread at a time
  bool acceptClosed_ = false;
  asio::steady_timer sweep_;
  std::list<Listening> listening_;
};

// ---- Connection ---------------------------------------------------------------

Connection::Connection(Service &service, Strand strand, net::NativeSocket native, asio::ip::address peer)
    : service_(service),
      limits_(service.limits),
      strand_(std::move(strand)),
      native_(native),
      peer_(std::move(peer)),
      reader_(service.limits) {}

Connection::~Connection() { Close(); }

bool Connection::Register() {
  if (socket_) return true;
  socket_.emplace(strand_);
  asio::error_code ec;
  socket_->assign(peer_.is_v6() ? tcp::v6() : tcp::v4(), static_cast<tcp::socket::native_handle_type>(native_), ec);
  if (ec) {
    socket_.reset();  // the native socket is still ours to close
    return false;
  }
  return true;
}

void Connection::Start() {
  started_ = lastActivity_ = Clock::now();
  Publish();
  Advance();  // the first bytes are usually there already
}

void Connection::RefuseNow() {
  for (std::size_t read = 0; read < 4 * kReadChunk;) {
    const net::IoResult got = net::ReceiveNow(native_, ReadBuffer(), kReadChunk);
    if (got.status != net::Io::Moved) break;
    read += got.bytes;
  }
  const std::string answer = StatusOnly(503);
  net::SendNow(native_, answer.data(), answer.size());
  net::ShutdownSend(native_);
  net::CloseSocket(native_);
  closed_ = true;
}

net::IoResult Connection::Receive(bool keep) {
  char *buffer = ReadBuffer();
  const net::IoResult got = net::ReceiveNow(native_, buffer, kReadChunk);
  if (got.status == net::Io::Ended) peerClosed_ = true;
  if (got.status != net::Io::Moved) return got;
  if (keep) data_.append(buffer, got.bytes);
  else drained_ += got.bytes;
  Touch();
  return got;
}

void Connection::Advance() {
  for (;;) {
    ReadOutcome outcome = reader_.Next(data_, peerClosed_);
    if (std::holds_alternative<NeedMore>(outcome)) {
      // What the reader has read (head, framing, trailers) is not kept.
      if (const std::size_t consumed = reader_.TakeConsumed()) data_.erase(0, consumed);
      switch (Receive(true).status) {
        case net::Io::Moved:
        case net::Io::Ended:
          continue;
        case net::Io::WouldBlock:
          Wait(tcp::socket::wait_read);
          return;
        case net::Io::Failed:
          Close();
          return;
      }
    } else if (auto *delivered = std::get_if<Delivered>(&outcome)) {
      Serve(delivered->request);
      return;
    } else if (auto *refused = std::get_if<Refused>(&outcome)) {
      requestDone_ = true;
      ResponseRecord response;
      response.SetStatus(refused->status);
      response.content = refused->content;
      if (!refused->authenticate.empty()) response.authenticate.push_back(refused->authenticate);
      StringSink sink;
      WriteContent(response, reader_.Kind(), sink, std::time(nullptr));
      Send(std::move(sink.data), After::Linger);
      return;
    } else if (auto *interim = std::get_if<SendInterim>(&outcome)) {
      reader_.InterimSent();
      Send(std::move(interim->bytes), After::Read);
      return;
    } else if (std::holds_alternative<Probe>(outcome)) {
      // An unframed POST or PUT: a body that is coming shows up within the probe time.
      const net::Io got = Receive(true).status;
      if (got == net::Io::Failed) {
        Close();
        return;
      }
      if (got != net::Io::WouldBlock) {
        reader_.ProbeDone();
        continue;
      }
      if (!probe_) probe_.emplace(strand_);
      probe_->expires_after(limits_.bodyProbe);
      probe_->async_wait([self = shared_from_this()](const asio::error_code &ec) {
        if (self->closed_ || ec) return;
        if (self->Receive(true).status == net::Io::Failed) {
          self->Close();
          return;
        }
        self->reader_.ProbeDone();
        self->Advance();
      });
      return;
    } else {  // Closed
      Close();
      return;
    }
  }
}

void Connection::Wait(tcp::socket::wait_type what) {
  if (!Register()) {
    Close();
    return;
  }
  socket_->async_wait(what, [self = shared_from_this(), what](const asio::error_code &ec) {
    if (self->closed_) return;
    if (ec) self->Close();
    else if (what == tcp::socket::wait_write) self->Flush();
    else if (self->lingering_) self->Drain();
    else self->Advance();
  });
}

void Connection::Serve(RequestRecord &request) {
  requestDone_ = true;
  if (!service_.BeginServing(*this)) {  // stopping: the action does not start
    Close();
    return;
  }
  ResponseRecord response;
  StringSink sink;  // the answer goes out once the action is done
  bool answer = true;
  service_.EnterAction();
  try {
    try {
      ServeRequest(request, response, sink, service_.pool);
    } catch (...) {  // the sink is memory: this is never the connection failing
      response.SetStatus(500);
      response.content = ErrorText(std::current_exception());
    }
    if (!response.headerWritten) WriteHeader(response, sink, std::time(nullptr));
    if (!response.content.empty()) WriteContent(response, request.kind, sink, std::time(nullptr));
  } catch (...) {
    answer = false;  // nothing escapes a connection
  }
  service_.LeaveAction();
  service_.EndServing(*this);
  Touch();  // the action's time does not count as the client's silence
  if (answer) Send(std::move(sink.data), After::Close);
  else Close();
}

void Connection::Send(std::string bytes, After after) {
  out_ = std::move(bytes);
  outPos_ = 0;
  after_ = after;
  Flush();
}

void Connection::Flush() {
  while (outPos_ < out_.size()) {
    const net::IoResult sent = net::SendNow(native_, out_.data() + outPos_, out_.size() - outPos_);
    if (sent.status == net::Io::WouldBlock) {
      Wait(tcp::socket::wait_write);
      return;
    }
    if (sent.status != net::Io::Moved) {  // the peer is gone: nothing more is written
      Close();
      return;
    }
    outPos_ += sent.bytes;
    Touch();
  }
  std::string().swap(out_);
  switch (after_) {
    case After::Read: Advance(); break;
    case After::Linger: Linger(); break;
    case After::Close: Close(); break;
  }
}

// After a refusal the client may still be sending its request: read and drop what
// it sends for a short while, so that closing does not reset the answer away.
void Connection::Linger() {
  lingering_ = true;
  std::string().swap(data_);
  net::ShutdownSend(native_);
  lingerUntil_ = Clock::now() + limits_.lingerTime;
  Publish();
  Drain();
}

void Connection::Drain() {
  for (;;) {
    switch (Receive(false).status) {
      case net::Io::Moved:
        if (drained_ >= kMaxDrain) {
          Close();
          return;
        }
        continue;
      case net::Io::WouldBlock:
        Wait(tcp::socket::wait_read);
        return;
      case net::Io::Ended:
      case net::Io::Failed:
        Close();
        return;
    }
  }
}

void Connection::Touch() {
  lastActivity_ = Clock::now();
  Publish();
}

Clock::time_point Connection::Deadline() const {
  return detail::ConnectionDeadline(
      {started_, lastActivity_, lingerUntil_, lingering_, requestDone_, reader_.BodyBytes()}, limits_);
}

void Connection::Expire() {
  if (!closed_ && Clock::now() >= Deadline()) Close();
}

void Connection::Close() {
  if (closed_) return;
  closed_ = true;
  service_.Leave(*this);  // before the close: Stop no longer touches the descriptor
  asio::error_code ec;
  if (socket_) socket_->close(ec);
  else net::CloseSocket(native_);
  if (probe_) probe_->cancel();
  std::string().swap(data_);
  std::string().swap(out_);
}

// ---- Service ------------------------------------------------------------------

bool Service::Listen(tcp::acceptor acceptor) {
  asio::error_code ec;
#if defined(TCP_DEFER_ACCEPT)
  // Hand a connection over once its first bytes are there: its first read then
  // finds them without another turn of the loop.
  acceptor.set_option(asio::detail::socket_option::integer<IPPROTO_TCP, TCP_DEFER_ACCEPT>(1), ec);
#endif
  acceptor.listen(limits.listenQueue, ec);
  if (ec) return false;
  acceptor.non_blocking(true, ec);  // connections are taken until none waits
  if (ec) return false;
  listening_.emplace_back(std::move(acceptor), io_);
  return true;
}

void Service::Run() {
  work_.emplace(io_.get_executor());
  ArmSweep();
  ResumeAccepting();
  std::lock_guard lock(threadMutex_);
  for (std::size_t i = 0; i < std::max<std::size_t>(1, limits.eventThreads); ++i) Spawn();
  supervising_ = true;
  supervisor_ = std::thread([this] { Supervise(); });
}

void Service::ResumeAccepting() {
  asio::post(io_, [this] {
    for (Listening &listening : listening_) AcceptLoop(listening);
  });
}

thread_local Service::AcceptTurn *Service::currentTurn = nullptr;

void Service::AcceptLoop(Listening &listening) {
  AcceptTurn turn{this, &listening};
  for (int taken = 0;; ++taken) {
    net::NativeSocket native{};
    net::PeerAddress peer;
    {
      std::lock_guard lock(acceptMutex_);  // Stop closes the socket under it
      if (acceptClosed_) return;
      const net::AcceptStatus status = taken < kAcceptBatch ? net::AcceptNow(listening.native, native, peer)
                                                            : net::AcceptStatus::WouldBlock;
      if (status == net::AcceptStatus::Retry) continue;
      if (status != net::AcceptStatus::Accepted) {
        if (listening.waiting) return;  // another thread waits already
        listening.waiting = true;
        const auto resume = [this, &listening](const asio::error_code &ec) {
          {
            std::lock_guard relock(acceptMutex_);
            listening.waiting = false;
          }
          if (!ec) AcceptLoop(listening);
        };
        if (status == net::AcceptStatus::Exhausted) {
          // Out of descriptors or memory: breathe, then go on accepting.
          listening.pause.expires_after(kAcceptPause);
          listening.pause.async_wait(resume);
        } else {
          listening.acceptor.async_wait(tcp::acceptor::wait_read, resume);
        }
        return;
      }
    }
    AcceptTurn *outer = std::exchange(currentTurn, &turn);
    StartConnection(native, peer);
    currentTurn = outer;
    if (turn.handedOff) return;  // the accept role is another thread's now
  }
}

void Service::StartConnection(net::NativeSocket native, const net::PeerAddress &peer) {
  auto connection = std::make_shared<Connection>(*this, asio::make_strand(io_), native, ToAddress(peer));
  switch (Admit(*connection, connection)) {
    case Admission::Accept:
      // Runs here and now: the strand is new and this thread runs the loop.
      asio::dispatch(connection->Executor(), [connection] { connection->Start(); });
      break;
    case Admission::Refuse:
      connection->RefuseNow();
      break;
    case Admission::Stopping:
      break;  // the socket closes with the connection
  }
}

void Service::ArmSweep() {
  std::lock_guard lock(acceptMutex_);
  if (acceptClosed_) return;
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

void Service::Leave(Connection &connection) { register_.Leave(&connection); }

bool Service::BeginServing(Connection &connection) { return register_.BeginServing(&connection); }

void Service::EndServing(Connection &connection) { register_.EndServing(&connection); }

std::size_t Service::Open() const { return register_.Open(); }

std::size_t Service::Threads() const {
  std::lock_guard lock(threadMutex_);
  return threads_.size() + (supervisor_.joinable() ? 1 : 0);
}

void Service::EnterAction() {
  bool freeThread;
  {
    std::lock_guard lock(threadMutex_);
    freeThread = threads_.size() > busy_ + 1;  // a loop thread besides this one is outside any action
    ++busy_;
    ++actionsStarted_;
    if (supervisorAsleep_) {
      supervisorAsleep_ = false;
      supervisorWake_.notify_one();
    }
  }
  AcceptTurn *turn = currentTurn;
  if (freeThread && turn != nullptr && turn->service == this && !turn->handedOff) {
    turn->handedOff = true;
    Listening *listening = turn->listening;
    asio::post(io_, [this, listening] { AcceptLoop(*listening); });
  }
}

void Service::LeaveAction() {
  std::lock_guard lock(threadMutex_);
  --busy_;
  ++actionsFinished_;
}

void Service::Spawn() {
  // Threads that retired are joined here (they no longer need the lock).
  for (std::thread &ended : finished_) ended.join();
  finished_.clear();
  threads_.emplace_front();
  const auto self = threads_.begin();
  *self = std::thread([this, self] { ThreadBody(self); });
}

void Service::ThreadBody(std::list<std::thread>::iterator self) {
  for (;;) {
    std::size_t handled = 0;
    try {
      handled = io_.run_for(kRetireAfter);
    } catch (...) {
      handled = 1;  // a handler failed; the loop goes on
    }
    std::lock_guard lock(threadMutex_);
    const bool outOfWork = io_.stopped();  // only after Stop let the work go
    // While actions run, two threads stay free (see Supervise).
    const std::size_t keepFree = std::max<std::size_t>(1, limits.eventThreads) + (busy_ > 0 ? 1 : 0);
    const bool spare = handled == 0 && threads_.size() - busy_ > keepFree;
    if (outOfWork || spare) {
      finished_.push_back(std::move(*self));
      threads_.erase(self);
      threadEnded_.notify_all();
      return;
    }
  }
}

// Looks at the actions every grace period while any run: when every loop thread
// is inside one and none has finished since the last look, the loop has stalled
// and gets another thread. Sleeps while no action starts.
void Service::Supervise() {
  std::unique_lock lock(threadMutex_);
  bool stalledBefore = false;
  std::uint64_t startedAtLastLook = actionsStarted_;
  Clock::time_point lastStart = Clock::now();
  while (supervising_) {
    if (busy_ == 0 && Clock::now() - lastStart > kSupervisorRest) {
      supervisorAsleep_ = true;
      supervisorWake_.wait(lock, [&] { return !supervisorAsleep_ || !supervising_; });
      supervisorAsleep_ = false;
      lastStart = Clock::now();
      startedAtLastLook = actionsStarted_;
      continue;
    }
    supervisorWake_.wait_for(lock, kStallGrace);
    if (!supervising_) break;
    // Stalled: fewer than two loop threads are free, and an action that had started
    // by the last look is still running (fewer actions have finished than had
    // started then). Fast actions finishing meanwhile do not hide a slow one. Two
    // free threads are kept: one accepts, one takes the accept role when that one
    // starts an action.
    const bool stalled = busy_ > 0 && busy_ + 2 > threads_.size() && actionsFinished_ < startedAtLastLook;
    if (stalled && stalledBefore && threads_.size() < limits.maxThreads) {
      Spawn();
      ResumeAccepting();  // the stalled thread may have been the one taking connections
      stalledBefore = false;
    } else {
      stalledBefore = stalled;
    }
    if (actionsStarted_ != startedAtLastLook) lastStart = Clock::now();
    startedAtLastLook = actionsStarted_;
  }
}

bool Service::Stop(Clock::time_point deadline) {
  {
    std::lock_guard lock(acceptMutex_);
    if (!acceptClosed_) {
      acceptClosed_ = true;
      for (Listening &listening : listening_) {
        asio::error_code ec;
        listening.acceptor.close(ec);  // a wait still armed ends as aborted
        listening.pause.cancel();
      }
      sweep_.cancel();
      CloseConnections();
      work_.reset();  // the loop ends once the last connection is done
    }
  }
  std::unique_lock lock(threadMutex_);
  for (;;) {
    if (!threadEnded_.wait_until(lock, deadline, [&] { return !finished_.empty() || threads_.empty(); }))
      return false;  // an action is still running; its thread ends when it does
    std::vector<std::thread> ended;
    ended.swap(finished_);
    const bool last = threads_.empty();
    lock.unlock();
    for (std::thread &thread : ended) thread.join();
    lock.lock();
    if (last && threads_.empty() && finished_.empty()) break;
  }
  // The loop is done; the supervisor has nothing left to watch.
  supervising_ = false;
  supervisorWake_.notify_all();
  lock.unlock();
  if (supervisor_.joinable()) supervisor_.join();
  return true;
}

void Service::CloseConnections() {
  // A connection inside its action runs on; the answer it writes then fails on the
  // closed socket. The others are closed on their strands.
  const auto reading = register_.Stop([](Connection *serving) { net::ShutdownBoth(serving->Native()); });
  for (auto &connection : reading) asio::post(connection->Executor(), [connection] { connection->Abort(); });
}

bool Ipv6Supported(asio::io_context &io) {
  tcp::socket probe(io);
  asio::error_code ec;
  probe.open(tcp::v6(), ec);
  return !ec;
}

std::optional<tcp::acceptor> OpenAndBind(asio::io_context &io, Binding &binding) {
  const bool v6 = binding.ipVersion == 6;
  asio::error_code ec;
  asio::ip::address address = v6 ? asio::ip::address(asio::ip::address_v6::any())
                                 : asio::ip::address(asio::ip::address_v4::any());
  if (!binding.address.empty()) {
    address = asio::ip::make_address(binding.address, ec);
    if (ec || address.is_v6() != v6) return std::nullopt;
  }
  tcp::acceptor acceptor(io);
  acceptor.open(v6 ? tcp::v6() : tcp::v4(), ec);
  if (ec) return std::nullopt;
  net::PrepareListening(static_cast<net::NativeSocket>(acceptor.native_handle()));
  if (v6) acceptor.set_option(asio::ip::v6_only(true), ec);
  acceptor.bind(tcp::endpoint(address, binding.port), ec);
  if (ec) return std::nullopt;
  const tcp::endpoint bound = acceptor.local_endpoint(ec);
  if (!ec) binding.port = bound.port();
  return acceptor;
}

}  // namespace

struct HttpListener::Impl {
  HandlerPool *pool;
  Limits limits;

  std::mutex control;  // one Start or Stop at a time
  mutable std::mutex mutex;
  bool active = false;
  std::uint16_t defaultPort = 80;
  std::vector<Binding> bindings;
  std::unique_ptr<Service> service;  // while active
  // Runs that Stop left with actions still inside (a hung business call): each
  // ends when its last action does, and is reaped by a later Start or Stop.
  std::vector<std::unique_ptr<Service>> draining;

  void Start();
  void Stop(Clock::time_point deadline);
  void Reap();
};

// Runs still draining when the listener goes: they stay (and their threads run
// their actions to the end) until the process ends. Kept reachable on purpose.
std::vector<std::unique_ptr<Service>> &Abandoned() {
  static NoDestructor<std::vector<std::unique_ptr<Service>>> abandoned;
  return abandoned.get();
}
std::mutex abandonedMutex;

void HttpListener::Impl::Reap() {
  std::erase_if(draining, [](const std::unique_ptr<Service> &run) { return run->Stop(Clock::now()); });
}

void HttpListener::Impl::Start() {
  std::lock_guard guard(control);
  Reap();
  std::vector<Binding> wanted;
  std::unique_ptr<Service> fresh;
  {
    std::lock_guard lock(mutex);
    if (active) return;
    fresh = std::make_unique<Service>(limits, *pool);
    if (bindings.empty()) {
      bindings.push_back(Binding{4, "", defaultPort});
      if (Ipv6Supported(fresh->Io())) bindings.push_back(Binding{6, "", defaultPort});
    }
    wanted = bindings;
  }
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    // When the system chose the first port, the other bindings follow it.
    if (i > 0 && wanted[i].port == 0 && wanted[0].port != 0) wanted[i].port = wanted[0].port;
    std::optional<tcp::acceptor> acceptor = OpenAndBind(fresh->Io(), wanted[i]);
    // On failure `fresh` closes the sockets opened so far.
    if (!acceptor || !fresh->Listen(std::move(*acceptor))) throw Error(kBindFailure);
  }
  fresh->Run();
  std::lock_guard lock(mutex);
  bindings = wanted;
  service = std::move(fresh);
  active = true;
}

void HttpListener::Impl::Stop(Clock::time_point deadline) {
  std::lock_guard guard(control);
  Reap();
  Service *running;
  {
    std::lock_guard lock(mutex);
    if (!active) return;
    active = false;
    running = service.get();
  }
  const bool ended = running->Stop(deadline);
  std::unique_ptr<Service> run;
  {
    std::lock_guard lock(mutex);
    run = std::move(service);
  }
  if (!ended) draining.push_back(std::move(run));
  // Otherwise `run` goes here: no thread of it is left.
}

HttpListener::HttpListener(HandlerPool *pool, Limits limits) : impl_(std::make_unique<Impl>()) {
  impl_->pool = pool != nullptr ? pool : &HandlerPool::Global();
  impl_->limits = limits;
}

HttpListener::~HttpListener() {
  try {
    const Clock::time_point deadline = Clock::now() + impl_->limits.stopWait;
    impl_->Stop(deadline);
    for (std::unique_ptr<Service> &run : impl_->draining) {
      if (run->Stop(deadline)) continue;
      std::lock_guard lock(abandonedMutex);
      Abandoned().push_back(std::move(run));
    }
  } catch (...) {
  }
}

void HttpListener::SetActive(bool active) {
  if (active) impl_->Start();
  else impl_->Stop(Clock::now() + impl_->limits.stopWait);
}

void HttpListener::Stop(std::chrono::steady_clock::time_point deadline) { impl_->Stop(deadline); }

bool HttpListener::Active() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->active;
}

std::uint16_t HttpListener::DefaultPort() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->defaultPort;
}

void HttpListener::SetDefaultPort(std::uint16_t port) {
  std::lock_guard lock(impl_->mutex);
  impl_->defaultPort = port;
}

std::vector<Binding> HttpListener::Bindings() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->bindings;
}

void HttpListener::ClearBindings() {
  std::lock_guard lock(impl_->mutex);
  impl_->bindings.clear();
}

std::size_t HttpListener::OpenConnections() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->service ? impl_->service->Open() : 0;
}

std::size_t HttpListener::Threads() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->service ? impl_->service->Threads() : 0;
}

}  // namespace tav::http
