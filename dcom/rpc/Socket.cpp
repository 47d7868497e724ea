#include "dcom/rpc/Socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "dcom/rpc/Pdu.h"
#include "platform/com/CallWait.h"

namespace tagwell::dcom {

namespace {

int MillisecondsUntil(Clock::time_point deadline) {
  auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left <= 0 ? 0 : left > 60000 ? 60000 : static_cast<int>(left);
}

// How often a thread with a call-wait pump (a window's thread) runs it
// while it waits for the network.
constexpr int kPumpEveryMs = 10;

// Waits for events on fd until deadline; false on timeout. On a thread
// with a call-wait pump the pump runs every few milliseconds meanwhile, so
// a window keeps drawing while its call waits for a remote computer.
bool Wait(int fd, short events, Clock::time_point deadline) {
  const bool pumping = com::GetCallWaitPump() && !com::InCallWaitPump();
  while (true) {
    pollfd entry{fd, events, 0};
    int slice = MillisecondsUntil(deadline);
    if (pumping) slice = std::min(slice, kPumpEveryMs);
    int ready = ::poll(&entry, 1, slice);
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
    if (ready == 0 && Clock::now() >= deadline) return false;
    if (pumping) com::RunCallWaitPump();
  }
}

// Reads exactly size bytes into out; Timeout or Closed when they do not come.
ReadOutcome ReadExactly(int fd, std::uint8_t* out, std::size_t size, Clock::time_point deadline) {
  std::size_t done = 0;
  while (done < size) {
    if (!Wait(fd, POLLIN, deadline)) return ReadOutcome::Timeout;
    ssize_t got = ::recv(fd, out + done, size - done, 0);
    if (got == 0) return ReadOutcome::Closed;
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return ReadOutcome::Closed;
    }
    done += static_cast<std::size_t>(got);
  }
  return ReadOutcome::Pdu;
}

void NoDelay(int fd) {
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

}  // namespace

int ListenTcp(const std::string& address, std::uint16_t port, std::string* error) {
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_port = htons(port);
  if (::inet_pton(AF_INET, address.c_str(), &where.sin_addr) != 1) {
    *error = "\"" + address + "\" is not an IPv4 address";
    return -1;
  }
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
      ::bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 ||
      ::listen(fd, 128) != 0) {
    *error =
        "cannot listen on " + address + ":" + std::to_string(port) + ": " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return -1;
  }
  return fd;
}

std::uint16_t LocalPort(int fd) {
  sockaddr_in where{};
  socklen_t size = sizeof where;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&where), &size) != 0) return 0;
  return ntohs(where.sin_port);
}

std::string PeerName(int fd) {
  sockaddr_in where{};
  socklen_t size = sizeof where;
  char text[INET_ADDRSTRLEN] = {};
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&where), &size) != 0 ||
      where.sin_family != AF_INET || !::inet_ntop(AF_INET, &where.sin_addr, text, sizeof text))
    return "unknown";
  return std::string(text) + ":" + std::to_string(ntohs(where.sin_port));
}

std::string PeerHost(const std::string& peer) {
  return peer.substr(0, peer.rfind(':'));
}

int ConnectTcp(const std::string& host, std::uint16_t port, Clock::time_point deadline,
               std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (int status = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
      status != 0) {
    *error = "cannot find " + host + ": " + ::gai_strerror(status);
    return -1;
  }
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  int status = fd < 0 ? -1 : ::connect(fd, found->ai_addr, found->ai_addrlen);
  ::freeaddrinfo(found);
  if (status != 0 && fd >= 0 && errno == EINPROGRESS) {
    int failure = ETIMEDOUT;
    socklen_t size = sizeof failure;
    if (Wait(fd, POLLOUT, deadline)) ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &size);
    errno = failure;
    status = failure == 0 ? 0 : -1;
  }
  if (status != 0) {
    *error = "cannot connect to " + host + ":" + std::to_string(port) + ": " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return -1;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  NoDelay(fd);
  return fd;
}

bool SendAll(int fd, ByteView bytes, Clock::time_point deadline) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    if (!Wait(fd, POLLOUT, deadline)) return false;
    ssize_t sent =
        ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (sent <= 0) return false;
    done += static_cast<std::size_t>(sent);
  }
  return true;
}

ReadOutcome ReadPdu(int fd, Bytes* pdu, Clock::time_point firstByte,
                    std::chrono::milliseconds rest) {
  pdu->assign(kHeaderSize, 0);
  ReadOutcome outcome = ReadExactly(fd, pdu->data(), 1, firstByte);
  if (outcome != ReadOutcome::Pdu) return outcome;
  Clock::time_point deadline = Clock::now() + rest;
  outcome = ReadExactly(fd, pdu->data() + 1, kHeaderSize - 1, deadline);
  if (outcome != ReadOutcome::Pdu) return outcome;
  auto header = ReadHeader(*pdu);
  if (!header) return ReadOutcome::Malformed;
  pdu->resize(header->fragLength);
  return ReadExactly(fd, pdu->data() + kHeaderSize, header->fragLength - kHeaderSize, deadline);
}

}  // namespace tagwell::dcom
