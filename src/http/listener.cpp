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

namespace tav::http {
namespace {

constexpr char kBindFailure[] = "Could not bind socket. Address and port are already in use.";
constexpr std::size_t kReadChunk = 16384;

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

class SocketSink : public ByteSink {
 public:
  explicit SocketSink(int fd) : fd_(fd) {}
  void Write(std::string_view bytes, bool more) override {
    const int flags = MSG_NOSIGNAL | (more ? MSG_MORE : 0);
    while (!bytes.empty()) {
      const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), flags);
      if (n < 0) {
        if (errno == EINTR) continue;
        throw ConnectionError(std::strerror(errno));
      }
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
  }

 private:
  int fd_;
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

struct HttpListener::Impl {
  HandlerPool *pool;
  Limits limits;

  std::mutex control;  // one Start or Stop at a time
  mutable std::mutex mutex;
  std::condition_variable connectionsEnded;
  bool active = false;
  bool stopping = false;
  std::uint16_t defaultPort = 80;
  std::vector<Binding> bindings;
  std::vector<int> listenSockets;
  std::vector<pthread_t> listenerThreads;
  std::unordered_set<int> connections;  // open connection sockets
  std::size_t connectionThreads = 0;

  void Start();
  void Stop();
  void AcceptLoop(int listenSocket);
  void ServeConnection(int fd);
  bool Spawn(void *(*body)(void *), void *arg, bool detached, pthread_t *out);

  struct AcceptArgs {
    Impl *impl;
    int socket;
  };
  struct ConnectionArgs {
    Impl *impl;
    int fd;
  };
};

namespace {


bool Ipv6Supported() {
  const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

int OpenAndBind(Binding &binding) {
  const int family = binding.ipVersion == 6 ? AF_INET6 : AF_INET;
  const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
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
      ::close(fd);
      return -1;
    }
    rc = ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
  } else {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(binding.port);
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!binding.address.empty() && inet_pton(AF_INET, binding.address.c_str(), &addr.sin_addr) != 1) {
      ::close(fd);
      return -1;
    }
    rc = ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
  }
  if (rc != 0) {
    ::close(fd);
    return -1;
  }
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  if (::getsockname(fd, reinterpret_cast<sockaddr *>(&bound), &length) == 0) {
    binding.port = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&bound)->sin6_port
                                            : reinterpret_cast<sockaddr_in *>(&bound)->sin_port);
  }
  return fd;
}

}  // namespace

bool HttpListener::Impl::Spawn(void *(*body)(void *), void *arg, bool detached, pthread_t *out) {
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) return false;
  pthread_attr_setstacksize(&attr, kSanitizerStack != 0 ? kSanitizerStack : limits.threadStack);
  if (detached) pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  const int rc = pthread_create(&thread, &attr, body, arg);
  pthread_attr_destroy(&attr);
  if (rc != 0) return false;
  if (out != nullptr) *out = thread;
  return true;
}

void HttpListener::Impl::Start() {
  std::lock_guard guard(control);
  {
    std::lock_guard lock(mutex);
    if (active) return;
    if (bindings.empty()) {
      bindings.push_back(Binding{4, "", defaultPort});
      if (Ipv6Supported()) bindings.push_back(Binding{6, "", defaultPort});
    }
  }
  std::vector<Binding> wanted;
  {
    std::lock_guard lock(mutex);
    wanted = bindings;
  }
  std::vector<int> sockets;
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    // When the system chose the first port, the other bindings follow it.
    if (i > 0 && wanted[i].port == 0 && wanted[0].port != 0) wanted[i].port = wanted[0].port;
    const int fd = OpenAndBind(wanted[i]);
    if (fd < 0 || ::listen(fd, limits.listenQueue) != 0) {
      if (fd >= 0) ::close(fd);
      for (int s : sockets) ::close(s);
      throw Error(kBindFailure);
    }
    sockets.push_back(fd);
  }
  std::lock_guard lock(mutex);
  bindings = wanted;
  stopping = false;
  listenSockets = sockets;
  for (int fd : sockets) {
    pthread_t thread;
    auto *args = new AcceptArgs{this, fd};
    if (!Spawn(
            [](void *p) -> void * {
              std::unique_ptr<AcceptArgs> a(static_cast<AcceptArgs *>(p));
              a->impl->AcceptLoop(a->socket);
              return nullptr;
            },
            args, false, &thread)) {
      delete args;
      continue;
    }
    listenerThreads.push_back(thread);
  }
  active = true;
}

void HttpListener::Impl::Stop() {
  std::lock_guard guard(control);
  std::vector<pthread_t> threads;
  std::vector<int> sockets;
  {
    std::lock_guard lock(mutex);
    if (!active) return;
    active = false;
    stopping = true;
    threads.swap(listenerThreads);
    sockets.swap(listenSockets);
  }
  for (std::size_t i = 0; i < sockets.size(); ++i) ::shutdown(sockets[i], SHUT_RDWR);  // wakes accept
  for (pthread_t t : threads) pthread_join(t, nullptr);
  for (int fd : sockets) ::close(fd);
  std::unique_lock lock(mutex);
  for (int fd : connections) ::shutdown(fd, SHUT_RDWR);
  // A handler still running finishes first; its write then fails on the closed socket.
  connectionsEnded.wait(lock, [&] { return connectionThreads == 0; });
}

void HttpListener::Impl::AcceptLoop(int listenSocket) {
  for (;;) {
    const int fd = ::accept4(listenSocket, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      {
        std::lock_guard lock(mutex);
        if (stopping) return;
      }
      if (errno == EINTR || errno == ECONNABORTED) continue;
      ::usleep(10000);  // out of descriptors or memory: breathe, then go on
      continue;
    }
    bool admitted = false;
    {
      std::lock_guard lock(mutex);
      if (stopping) {
        ::close(fd);
        return;
      }
      if (connectionThreads < limits.maxConnections) {
        connections.insert(fd);
        ++connectionThreads;
        admitted = true;
      }
    }
    if (admitted) {
      auto *args = new ConnectionArgs{this, fd};
      if (Spawn(
              [](void *p) -> void * {
                std::unique_ptr<ConnectionArgs> a(static_cast<ConnectionArgs *>(p));
                a->impl->ServeConnection(a->fd);
                return nullptr;
              },
              args, true, nullptr))
        continue;
      delete args;
      std::lock_guard lock(mutex);
      connections.erase(fd);
      --connectionThreads;
      if (connectionThreads == 0) connectionsEnded.notify_all();
    }
    WriteStatusOnly(fd, 503);
    ::close(fd);
  }
}

void HttpListener::Impl::ServeConnection(int fd) {
  SetTimeout(fd, SO_RCVTIMEO, limits.idleTimeout);
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  SocketSink sink(fd);
  RequestReader reader(limits);
  ResponseRecord response;
  std::string data;
  bool peerClosed = false;
  bool linger = false;
  const auto receive = [&](int flags) {
    const std::size_t old = data.size();
    data.resize(old + kReadChunk);
    const ssize_t n = ::recv(fd, data.data() + old, kReadChunk, flags);
    data.resize(old + (n > 0 ? static_cast<std::size_t>(n) : 0));
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
  } catch (const ConnectionError &) {
    // The peer is gone: nothing more is written.
  } catch (...) {
    // Nothing escapes a connection thread.
  }
  if (linger) LingeringClose(fd);
  std::lock_guard lock(mutex);
  connections.erase(fd);
  ::close(fd);
  if (--connectionThreads == 0) connectionsEnded.notify_all();
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
