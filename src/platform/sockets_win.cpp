// Socket calls on Windows (Winsock 2). Winsock has no per-call "don't wait" flag,
// so an accepted socket is made non-blocking once, when it is taken.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/detail/peer_address.h"
#include "platform/sockets.h"

namespace tav::net {
namespace {

SOCKET Handle(NativeSocket socket) { return static_cast<SOCKET>(socket); }

bool Transient(int error) { return error == WSAEWOULDBLOCK || error == WSAEINTR || error == WSAEINPROGRESS; }

}  // namespace

AcceptStatus AcceptNow(NativeSocket listening, NativeSocket &accepted, PeerAddress &peer) {
  sockaddr_storage address{};
  int length = sizeof address;
  const SOCKET s = ::accept(Handle(listening), reinterpret_cast<sockaddr *>(&address), &length);
  if (s == INVALID_SOCKET) {
    switch (WSAGetLastError()) {
      case WSAEWOULDBLOCK:
        return AcceptStatus::WouldBlock;
      case WSAEINTR:
      case WSAECONNRESET:
      case WSAECONNABORTED:
        return AcceptStatus::Retry;
      default:
        return AcceptStatus::Exhausted;
    }
  }
  u_long nonBlocking = 1;
  if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
    ::closesocket(s);
    return AcceptStatus::Retry;
  }
  accepted = static_cast<NativeSocket>(s);
  peer = detail::PeerOf(address);
  return AcceptStatus::Accepted;
}

void CloseSocket(NativeSocket socket) { ::closesocket(Handle(socket)); }

IoResult ReceiveNow(NativeSocket socket, char *buffer, std::size_t size) {
  const int n = ::recv(Handle(socket), buffer, static_cast<int>(size), 0);
  if (n > 0) return {Io::Moved, static_cast<std::size_t>(n)};
  if (n == 0) return {size == 0 ? Io::Moved : Io::Ended, 0};
  return {Transient(WSAGetLastError()) ? Io::WouldBlock : Io::Failed, 0};
}

IoResult SendNow(NativeSocket socket, const char *bytes, std::size_t size) {
  const int n = ::send(Handle(socket), bytes, static_cast<int>(size), 0);
  if (n >= 0) return {Io::Moved, static_cast<std::size_t>(n)};
  return {Transient(WSAGetLastError()) ? Io::WouldBlock : Io::Failed, 0};
}

void ShutdownBoth(NativeSocket socket) { ::shutdown(Handle(socket), SD_BOTH); }

void ShutdownSend(NativeSocket socket) { ::shutdown(Handle(socket), SD_SEND); }

void PrepareListening(NativeSocket socket) {
  const BOOL one = TRUE;
  ::setsockopt(Handle(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char *>(&one), sizeof one);
}

// Windows sets no per-process limit on sockets.
std::uint64_t RaiseOpenFileLimit() { return UINT64_MAX; }

}  // namespace tav::net
