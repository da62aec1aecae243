// Test helper: raw HTTP over loopback.
#pragma once

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdint>
#include <string>

namespace tav::testing {

#if defined(_WIN32)
using SocketHandle = SOCKET;
constexpr SocketHandle kNoSocket = INVALID_SOCKET;
inline int CloseSocketHandle(SocketHandle s) { return ::closesocket(s); }
inline int Poll(pollfd *p, unsigned long n, int ms) { return ::WSAPoll(p, n, ms); }
inline constexpr int kNoSignal = 0;
// Winsock is started once per test process.
inline bool StartSockets() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}
#else
using SocketHandle = int;
constexpr SocketHandle kNoSocket = -1;
inline int CloseSocketHandle(SocketHandle s) { return ::close(s); }
inline int Poll(pollfd *p, nfds_t n, int ms) { return ::poll(p, n, ms); }
inline constexpr int kNoSignal = MSG_NOSIGNAL;
inline bool StartSockets() { return true; }
#endif

class RawClient {
 public:
  // `source`: the local IPv4 address to connect from (any of 127.0.0.0/8 works on loopback).
  explicit RawClient(std::uint16_t port, bool v6 = false, const char *source = nullptr) {
    StartSockets();
    fd_ = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    if (source != nullptr) {
      sockaddr_in local{};
      local.sin_family = AF_INET;
      ::inet_pton(AF_INET, source, &local.sin_addr);
      if (::bind(fd_, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) return;
    }
    if (v6) {
      sockaddr_in6 a{};
      a.sin6_family = AF_INET6;
      a.sin6_port = htons(port);
      a.sin6_addr = in6addr_loopback;
      connected_ = ::connect(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    } else {
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(port);
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      connected_ = ::connect(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    }
  }
  RawClient(const RawClient &) = delete;
  RawClient &operator=(const RawClient &) = delete;
  ~RawClient() {
    if (fd_ != kNoSocket) CloseSocketHandle(fd_);
  }
  bool connected() const { return connected_; }
  void Send(const std::string &bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const auto n = ::send(fd_, bytes.data() + done, static_cast<int>(bytes.size() - done), kNoSignal);
      if (n <= 0) return;
      done += static_cast<std::size_t>(n);
    }
  }
  // Reads until the server closes, or `limit` passes.
  std::string ReadAll(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd p{fd_, POLLIN, 0};
      if (Poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      char buf[65536];
      const auto n = ::recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) {
        closed_ = true;
        break;
      }
      out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
  }
  // Reads what arrives within `limit` without waiting for the close.
  std::string ReadSome(std::chrono::milliseconds limit) {
    std::string out;
    pollfd p{fd_, POLLIN, 0};
    if (Poll(&p, 1, static_cast<int>(limit.count())) > 0) {
      char buf[65536];
      const auto n = ::recv(fd_, buf, sizeof buf, 0);
      if (n > 0) out.append(buf, static_cast<std::size_t>(n));
      else closed_ = true;
    }
    return out;
  }
  bool closedByPeer() const { return closed_; }

 private:
  SocketHandle fd_ = kNoSocket;
  bool connected_ = false;
  bool closed_ = false;
};

inline std::string Exchange(std::uint16_t port, const std::string &request, const char *source = nullptr) {
  RawClient client(port, false, source);
  client.Send(request);
  return client.ReadAll();
}

// The response without its Date line, which changes every second.
inline std::string WithoutDate(std::string response) {
  const std::size_t d = response.find("Date: ");
  if (d != std::string::npos) response.erase(d, response.find("\r\n", d) + 2 - d);
  return response;
}

}  // namespace tav::testing
