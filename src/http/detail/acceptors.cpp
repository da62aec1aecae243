#include "http/detail/acceptors.h"

#include <asio/ip/v6_only.hpp>
#include <asio/post.hpp>

#include <utility>

namespace tav::http::detail {
namespace {

constexpr auto kAcceptPause = std::chrono::milliseconds(10);  // after accept failed for want of resources
constexpr int kAcceptBatch = 16;  // connections taken in a row before the loop looks at the others

}  // namespace

thread_local Acceptors::Turn *Acceptors::currentTurn = nullptr;

bool Acceptors::Listen(tcp::acceptor acceptor, int queue) {
  asio::error_code ec;
#if defined(TCP_DEFER_ACCEPT)
  // Hand a connection over once its first bytes are there: its first read then
  // finds them without another turn of the loop.
  acceptor.set_option(asio::detail::socket_option::integer<IPPROTO_TCP, TCP_DEFER_ACCEPT>(1), ec);
#endif
  acceptor.listen(queue, ec);
  if (ec) return false;
  acceptor.non_blocking(true, ec);  // connections are taken until none waits
  if (ec) return false;
  listening_.emplace_back(std::move(acceptor), io_);
  return true;
}

void Acceptors::Resume() {
  asio::post(io_, [this] {
    for (Listening &listening : listening_) AcceptLoop(listening);
  });
}

void Acceptors::AcceptLoop(Listening &listening) {
  Turn turn{this, &listening};
  for (int taken = 0;; ++taken) {
    net::NativeSocket native{};
    net::PeerAddress peer;
    {
      std::lock_guard lock(mutex_);  // Close closes the socket under it
      if (closed_) return;
      const net::AcceptStatus status = taken < kAcceptBatch ? net::AcceptNow(listening.native, native, peer)
                                                            : net::AcceptStatus::WouldBlock;
      if (status == net::AcceptStatus::Retry) continue;
      if (status != net::AcceptStatus::Accepted) {
        if (listening.waiting) return;  // another thread waits already
        listening.waiting = true;
        const auto resume = [this, &listening](const asio::error_code &ec) {
          {
            std::lock_guard relock(mutex_);
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
    Turn *outer = std::exchange(currentTurn, &turn);
    take_(native, peer);
    currentTurn = outer;
    if (turn.handedOff) return;  // the accept role is another thread's now
  }
}

void Acceptors::HandOff() {
  Turn *turn = currentTurn;
  if (turn == nullptr || turn->owner != this || turn->handedOff) return;
  turn->handedOff = true;
  Listening *listening = turn->listening;
  asio::post(io_, [this, listening] { AcceptLoop(*listening); });
}

void Acceptors::Close() {
  std::lock_guard lock(mutex_);
  if (closed_) return;
  closed_ = true;
  for (Listening &listening : listening_) {
    asio::error_code ec;
    listening.acceptor.close(ec);
    listening.pause.cancel();
  }
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

}  // namespace tav::http::detail
