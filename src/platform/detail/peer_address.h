// The address an accepted connection came from, out of the system's socket address
// (the same layout on both systems; only the headers differ).
#pragma once

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <cstring>

#include "platform/sockets.h"

namespace tav::net::detail {

inline PeerAddress PeerOf(const sockaddr_storage &address) {
  PeerAddress peer;
  if (address.ss_family == AF_INET6) {
    peer.ipVersion = 6;
    std::memcpy(peer.bytes.data(), &reinterpret_cast<const sockaddr_in6 &>(address).sin6_addr, 16);
  } else {
    std::memcpy(peer.bytes.data(), &reinterpret_cast<const sockaddr_in &>(address).sin_addr, 4);
  }
  return peer;
}

}  // namespace tav::net::detail
