#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

#include "platform/detail/peer_address.h"
#include "platform/sockets.h"

namespace tav::net {
namespace {

bool Transient(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

}  // namespace

AcceptStatus AcceptNow(NativeSocket listening, NativeSocket &accepted, PeerAddress &peer) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  const int fd = ::accept4(static_cast<int>(listening), reinterpret_cast<sockaddr *>(&address), &length,
                           SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) {
    switch (errno) {
      case EAGAIN:
#if EWOULDBLOCK != EAGAIN
      case EWOULDBLOCK:
#endif
        return AcceptStatus::WouldBlock;
      case EINTR:
      case ECONNABORTED:
      case EPROTO:
      case EPERM:
        return AcceptStatus::Retry;
      default:
        return AcceptStatus::Exhausted;
    }
  }
  accepted = fd;
  peer = detail::PeerOf(address);
  return AcceptStatus::Accepted;
}

void CloseSocket(NativeSocket socket) { ::close(static_cast<int>(socket)); }

IoResult ReceiveNow(NativeSocket socket, char *buffer, std::size_t size) {
  const ssize_t n = ::recv(static_cast<int>(socket), buffer, size, MSG_DONTWAIT);
  if (n > 0) return {Io::Moved, static_cast<std::size_t>(n)};
  if (n == 0) return {size == 0 ? Io::Moved : Io::Ended, 0};
  return {Transient(errno) ? Io::WouldBlock : Io::Failed, 0};
}

IoResult SendNow(NativeSocket socket, const char *bytes, std::size_t size) {
  const ssize_t n = ::send(static_cast<int>(socket), bytes, size, MSG_DONTWAIT | MSG_NOSIGNAL);
  if (n >= 0) return {Io::Moved, static_cast<std::size_t>(n)};
  return {Transient(errno) ? Io::WouldBlock : Io::Failed, 0};
}

void ShutdownBoth(NativeSocket socket) { ::shutdown(static_cast<int>(socket), SHUT_RDWR); }

void ShutdownSend(NativeSocket socket) { ::shutdown(static_cast<int>(socket), SHUT_WR); }

void PrepareListening(NativeSocket socket) {
  const int one = 1;
  ::setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
}

std::uint64_t RaiseOpenFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur < limit.rlim_max) {
    rlimit wanted = limit;
    if (wanted.rlim_max == RLIM_INFINITY) {
      // Unlimited in name only: the kernel caps descriptors at fs.nr_open.
      std::uint64_t cap = 1 << 20;
      std::ifstream("/proc/sys/fs/nr_open") >> cap;
      wanted.rlim_max = static_cast<rlim_t>(cap);
    }
    wanted.rlim_cur = wanted.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &wanted) == 0) limit = wanted;
  }
  return static_cast<std::uint64_t>(limit.rlim_cur);
}

}  // namespace tav::net
