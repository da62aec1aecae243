// Socket calls the listener needs beyond its event loop: reads and writes that
// never block whatever mode the socket is in, a shutdown that is safe from any
// thread, and the process's open-file limit.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tav::net {

// A socket as the system knows it (a descriptor, or a SOCKET on Windows).
using NativeSocket = std::intptr_t;

enum class Io {
  Moved,       // `bytes` were read or written
  WouldBlock,  // nothing can move now
  Ended,       // the peer closed its sending side (reads only)
  Failed,      // reset, aborted or otherwise unusable
};
struct IoResult {
  Io status;
  std::size_t bytes = 0;
};

// The address a connection came from.
struct PeerAddress {
  int ipVersion = 4;                     // 4: the first four bytes count
  std::array<unsigned char, 16> bytes{};
};

enum class AcceptStatus {
  Accepted,    // `accepted` is a new non-blocking socket, `peer` its address
  WouldBlock,  // no connection waits
  Retry,       // a connection died before it was taken: try again
  Exhausted,   // out of descriptors or memory, or the socket is unusable: pause
};
AcceptStatus AcceptNow(NativeSocket listening, NativeSocket &accepted, PeerAddress &peer);
void CloseSocket(NativeSocket socket);

IoResult ReceiveNow(NativeSocket socket, char *buffer, std::size_t size);
// Never raises SIGPIPE.
IoResult SendNow(NativeSocket socket, const char *bytes, std::size_t size);
// Ends the traffic both ways and wakes whatever waits on the socket; the socket
// stays open for its owner to close.
void ShutdownBoth(NativeSocket socket);
void ShutdownSend(NativeSocket socket);

// Before bind: a restart may bind while old connections of the port linger, but no
// second listener may take a port that is listened on (SO_REUSEADDR on Linux;
// SO_EXCLUSIVEADDRUSE on Windows, where SO_REUSEADDR would let another steal it).
void PrepareListening(NativeSocket socket);

// Raises the soft open-file limit to the hard one (or to what the kernel allows);
// returns the limit in force afterwards.
std::uint64_t RaiseOpenFileLimit();

}  // namespace tav::net
