#include "http/listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <mutex>
#include <unordered_set>

#include "http/request_reader.h"
#include "http/response.h"
#include "http/web.h"
#include "platform/errors.h"
#include "platform/fd.h"

namespace tav::http {
namespace {

constexpr char kBindFailure[] = "Could not bind socket. Address and port are already in use.";
constexpr std::size_t kReadChunk = 16384;
constexpr std::size_t kMaxIdleThreads = 64;  // connection threads kept waiting in accept, per socket

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::size_t kSanitizerStack = 8 * 1024 * 1024;  // sanitizers need room of their own
#else
constexpr std::size_t kSanitizerStack = 0;
#endif

void SetTimeout(int fd, int option, std::chrono::milliseconds timeout) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(timeout.count() / 1000);
  tv.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
  setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv);
}

// Writes to the socket. A write announced as followed by another (the header
// before its body) is held and goes out with the next one in a single send.
class SocketSink : public ByteSink {
 public:
  explicit SocketSink(int fd) : fd_(fd) {}
  void Write(std::string_view bytes, bool more) override {
    if (more) {
      pending_.append(bytes);
      return;
    }
    if (!pending_.empty()) {
      pending_.append(bytes);
      Send(pending_);
      pending_.clear();
      return;
    }
    Send(bytes);
  }
  void Flush() override {
    if (pending_.empty()) return;
    Send(pending_);
    pending_.clear();
  }

 private:
  void Send(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n < 0) {
        if (errno == EINTR) continue;
        throw ConnectionError(std::strerror(errno));
      }
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
  }

  int fd_;
  std::string pending_;
};

// After a refusal the client may still be sending its body: read what it sends
// for a short while so that closing does not reset the answer away.
void LingeringClose(int fd) {
  ::shutdown(fd, SHUT_WR);
  SetTimeout(fd, SO_RCVTIMEO, std::chrono::milliseconds(500));
  char buffer[kReadChunk];
  std::size_t drained = 0;
  while (drained < (4u << 20)) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    drained += static_cast<std::size_t>(n);
  }
}

void WriteStatusOnly(int fd, int status) {
  ResponseRecord response;
  response.SetStatus(status);
  StringSink out;
  WriteHeader(response, out, std::time(nullptr));
  (void)::send(fd, out.data.data(), out.data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

}  // namespace

// Connection threads accept for themselves: each idle thread waits in accept() on
// one listening socket, serves the connection it gets on its own, then goes back to
// accepting (or ends when enough others wait). The last idle thread of a socket
// starts another before serving, so a connection never waits for a thread.
struct HttpListener::Impl {
  HandlerPool *pool;
  Limits limits;

  std::mutex control;  // one Start or Stop at a time
  mutable std::mutex mutex;
  std::condition_variable threadsEnded;
  bool active = false;
  bool stopping = false;
  std::uint16_t defaultPort = 80;
  std::vector<Binding> bindings;
  std::vector<UniqueFd> listenSockets;
  std::vector<std::size_t> idle;         // threads waiting in accept, per listening socket
  std::unordered_set<int> connections;   // open connection sockets
  std::size_t connectionThreads = 0;     // connections being served
  std::size_t threads = 0;               // connection threads alive

  void Start();
  void Stop();
  // Under `mutex`: starts a thread that accepts on listening socket `index`.
  void SpawnAcceptor(std::size_t index);
  void ConnectionThread(std::size_t index, int listenSocket);
  void ServeConnection(int fd);

  struct ThreadArgs {
    Impl *impl;
    std::size_t index;
    int socket;
  };
};

namespace {

bool Ipv6Supported() {
  return UniqueFd(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0)).valid();
}

UniqueFd OpenAndBind(Binding &binding) {
  const int family = binding.ipVersion == 6 ? AF_INET6 : AF_INET;
  UniqueFd socket(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket.valid()) return socket;
  const int fd = socket.get();
  // Lets a restart rebind while old connections sit in TIME_WAIT; on Linux a
  // second listener on a port being listened on still fails.
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  int rc;
  if (family == AF_INET6) {
    setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    sockaddr_in6 addr{};
    addr.sin6_family = AF_INET6;
    addr.sin6_port = htons(binding.port);
    addr.sin6_addr = in6addr_any;
    if (!binding.address.empty() && inet_pton(AF_INET6, binding.address.c_str(), &addr.sin6_addr) != 1) {
      return UniqueFd();
    }
    rc = ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
  } else {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(binding.port);
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!binding.address.empty() && inet_pton(AF_INET, binding.address.c_str(), &addr.sin_addr) != 1) {
      return UniqueFd();
    }
    rc = ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
  }
  if (rc != 0) return UniqueFd();
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  if (::getsockname(fd, reinterpret_cast<sockaddr *>(&bound), &length) == 0) {
    binding.port = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&bound)->sin6_port
                                            : reinterpret_cast<sockaddr_in *>(&bound)->sin_port);
  }
  return socket;
}

}  // namespace

void HttpListener::Impl::SpawnAcceptor(std::size_t index) {
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) return;
  pthread_attr_setstacksize(&attr, kSanitizerStack != 0 ? kSanitizerStack : limits.threadStack);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  auto args = std::make_unique<ThreadArgs>(ThreadArgs{this, index, listenSockets[index].get()});
  pthread_t thread;
  const int rc = pthread_create(
      &thread, &attr,
      [](void *p) -> void * {
        std::unique_ptr<ThreadArgs> a(static_cast<ThreadArgs *>(p));
        a->impl->ConnectionThread(a->index, a->socket);
        return nullptr;
      },
      args.get());
  pthread_attr_destroy(&attr);
  if (rc != 0) return;  // the threads already there go on accepting
  (void)args.release();
  ++threads;
  ++idle[index];
}

void HttpListener::Impl::Start() {
  std::lock_guard guard(control);
  std::vector<Binding> wanted;
  {
    std::lock_guard lock(mutex);
    if (active) return;
    if (bindings.empty()) {
      bindings.push_back(Binding{4, "", defaultPort});
      if (Ipv6Supported()) bindings.push_back(Binding{6, "", defaultPort});
    }
    wanted = bindings;
  }
  std::vector<UniqueFd> sockets;  // all closed again if one binding fails
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    // When the system chose the first port, the other bindings follow it.
    if (i > 0 && wanted[i].port == 0 && wanted[0].port != 0) wanted[i].port = wanted[0].port;
    UniqueFd socket = OpenAndBind(wanted[i]);
    const int fd = socket.get();
    if (fd >= 0) {
      SetTimeout(fd, SO_RCVTIMEO, limits.idleTimeout);  // accepted sockets inherit it
      // Hand a connection to a thread once its first bytes are there, so that the
      // thread does not wake up only to wait again in recv.
      const int deferSeconds = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_DEFER_ACCEPT, &deferSeconds, sizeof deferSeconds);
    }
    if (fd < 0 || ::listen(fd, limits.listenQueue) != 0) throw Error(kBindFailure);
    sockets.push_back(std::move(socket));
  }
  std::lock_guard lock(mutex);
  bindings = wanted;
  stopping = false;
  listenSockets = std::move(sockets);
  idle.assign(listenSockets.size(), 0);
  for (std::size_t i = 0; i < listenSockets.size(); ++i) SpawnAcceptor(i);
  active = true;
}

void HttpListener::Impl::Stop() {
  std::lock_guard guard(control);
  std::vector<UniqueFd> sockets;
  {
    std::unique_lock lock(mutex);
    if (!active) return;
    active = false;
    stopping = true;
    for (const UniqueFd &socket : listenSockets) ::shutdown(socket.get(), SHUT_RDWR);  // wakes the threads in accept
    for (int fd : connections) ::shutdown(fd, SHUT_RDWR);
    // A handler still running finishes first; its write then fails on the closed socket.
    threadsEnded.wait(lock, [&] { return threads == 0; });
    sockets = std::move(listenSockets);
    listenSockets.clear();
    idle.clear();
  }
  // `sockets` closes the listening sockets here: no thread uses them any more.
}

void HttpListener::Impl::ConnectionThread(std::size_t index, int listenSocket) {
  for (bool leave = false; !leave;) {
    UniqueFd connection(::accept4(listenSocket, nullptr, nullptr, SOCK_CLOEXEC));
    const int acceptError = errno;
    const int fd = connection.get();
    enum { Serve, Refuse, Retry, Breathe, End } next;
    {
      std::lock_guard lock(mutex);
      --idle[index];
      if (stopping) next = End;
      else if (fd < 0) next = (acceptError == EINTR || acceptError == ECONNABORTED) ? Retry : Breathe;
      else if (connectionThreads >= limits.maxConnections) next = Refuse;
      else next = Serve;
      if (next == Serve) {
        if (idle[index] == 0) SpawnAcceptor(index);  // someone must go on accepting
        connections.insert(fd);
        ++connectionThreads;
      } else if (next != End) {
        ++idle[index];
      }
    }
    switch (next) {
      case End:
        leave = true;
        continue;
      case Retry:
        continue;
      case Breathe:
        ::usleep(10000);  // out of descriptors or memory: breathe, then go on
        continue;
      case Refuse:
        WriteStatusOnly(fd, 503);
        continue;
      case Serve:
        break;
    }
    ServeConnection(fd);
    {
      std::lock_guard lock(mutex);
      connections.erase(fd);  // Stop no longer touches it, so it is closed outside the lock
      --connectionThreads;
      leave = stopping || idle[index] >= kMaxIdleThreads;
      if (!leave) ++idle[index];
    }
    connection.reset();
  }
  std::lock_guard lock(mutex);
  --threads;
  threadsEnded.notify_all();  // under the lock: Stop may destroy the listener once it sees zero
}

void HttpListener::Impl::ServeConnection(int fd) {
  // The idle limit is the receive timeout, inherited from the listening socket.
  SocketSink sink(fd);
  RequestReader reader(limits);
  ResponseRecord response;
  std::string data;
  bool peerClosed = false;
  bool linger = false;
  char buffer[kReadChunk];
  const auto receive = [&](int flags) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, flags);
    if (n > 0) data.append(buffer, static_cast<std::size_t>(n));
    if (n == 0) peerClosed = true;
    return n;
  };
  try {
    for (bool done = false; !done;) {
      ReadOutcome outcome = reader.Next(data, peerClosed);
      if (std::holds_alternative<NeedMore>(outcome)) {
        const ssize_t n = receive(0);
        if (n < 0 && errno != EINTR) break;  // idle limit, reset, or Stop
      } else if (std::holds_alternative<Closed>(outcome)) {
        break;
      } else if (auto *interim = std::get_if<SendInterim>(&outcome)) {
        sink.Write(interim->bytes, false);
        reader.InterimSent();
      } else if (std::holds_alternative<Probe>(outcome)) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(limits.bodyProbe.count())) > 0) receive(MSG_DONTWAIT);
        reader.ProbeDone();
      } else if (auto *refused = std::get_if<Refused>(&outcome)) {
        response.SetStatus(refused->status);
        response.content = refused->content;
        if (!refused->authenticate.empty()) response.authenticate.push_back(refused->authenticate);
        WriteContent(response, reader.Kind(), sink, std::time(nullptr));
        linger = true;
        done = true;
      } else if (auto *delivered = std::get_if<Delivered>(&outcome)) {
        const MethodKind kind = delivered->request.kind;
        try {
          ServeRequest(delivered->request, response, sink, *pool);
        } catch (const ConnectionError &) {
          throw;
        } catch (...) {
          response.SetStatus(500);
          response.content = ErrorText(std::current_exception());
        }
        if (!response.headerWritten) WriteHeader(response, sink, std::time(nullptr));
        if (!response.content.empty()) WriteContent(response, kind, sink, std::time(nullptr));
        done = true;
      }
    }
    sink.Flush();
  } catch (const ConnectionError &) {
    // The peer is gone: nothing more is written.
  } catch (...) {
    // Nothing escapes a connection thread.
  }
  if (linger) LingeringClose(fd);
}

HttpListener::HttpListener(HandlerPool *pool, Limits limits) : impl_(std::make_unique<Impl>()) {
  impl_->pool = pool != nullptr ? pool : &HandlerPool::Global();
  impl_->limits = limits;
}

HttpListener::~HttpListener() {
  try {
    impl_->Stop();
  } catch (...) {
  }
}

void HttpListener::SetActive(bool active) {
  if (active) impl_->Start();
  else impl_->Stop();
}

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
  return impl_->connectionThreads;
}

}  // namespace tav::http
