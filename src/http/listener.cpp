#include "http/listener.h"

#include <mutex>

#include "http/detail/acceptors.h"
#include "http/detail/service.h"
#include "http/handler_pool.h"
#include "platform/errors.h"
#include "platform/no_destructor.h"

// The listener's parts live in detail/: the connection, its deadline, the register
// of open connections with the per-peer caps, the loop's threads with their
// supervisor, the acceptors, and the run (Service) that composes them. This file
// binds, starts and stops runs, and keeps those a Stop left draining.
namespace tav::http {
namespace {

using detail::Clock;
using detail::Service;
using detail::tcp;

constexpr char kBindFailure[] = "Could not bind socket. Address and port are already in use.";

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

namespace {

// Runs still draining when the listener goes: they stay (and their threads run
// their actions to the end) until the process ends. Kept reachable on purpose.
std::vector<std::unique_ptr<Service>> &Abandoned() {
  static NoDestructor<std::vector<std::unique_ptr<Service>>> abandoned;
  return abandoned.get();
}
std::mutex abandonedMutex;

}  // namespace

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
      if (detail::Ipv6Supported(fresh->Io())) bindings.push_back(Binding{6, "", defaultPort});
    }
    wanted = bindings;
  }
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    // When the system chose the first port, the other bindings follow it.
    if (i > 0 && wanted[i].port == 0 && wanted[0].port != 0) wanted[i].port = wanted[0].port;
    std::optional<tcp::acceptor> acceptor = detail::OpenAndBind(fresh->Io(), wanted[i]);
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
