#include "DelayProxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <deque>
#include <string>

namespace tagwell::bench {
namespace {

using Clock = std::chrono::steady_clock;

int ConnectLoopback(std::uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

// Reads from one socket and writes to the other once each piece is due.
struct Pump {
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<std::pair<Clock::time_point, std::string>> queue;
  bool closed = false;
};

}  // namespace

struct DelayProxy::Link {
  int a = -1, b = -1;
  Pump ab, ba;
  std::thread threads[4];

  ~Link() {
    ::shutdown(a, SHUT_RDWR);
    ::shutdown(b, SHUT_RDWR);
    for (Pump* pump : {&ab, &ba}) {
      std::lock_guard lock(pump->mutex);
      pump->closed = true;
      pump->wake.notify_all();
    }
    for (auto& t : threads)
      if (t.joinable()) t.join();
    ::close(a);
    ::close(b);
  }
};

namespace {

void Read(int from, Pump& pump, std::chrono::microseconds delay, const std::atomic<bool>& stalled) {
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(from, buffer, sizeof buffer);
    std::lock_guard lock(pump.mutex);
    if (n <= 0) {
      pump.closed = true;
      pump.wake.notify_all();
      return;
    }
    if (stalled) continue;
    pump.queue.emplace_back(Clock::now() + delay, std::string(buffer, static_cast<size_t>(n)));
    pump.wake.notify_all();
  }
}

void Write(int to, Pump& pump, std::atomic<std::uint64_t>& bytes) {
  std::unique_lock lock(pump.mutex);
  for (;;) {
    pump.wake.wait(lock, [&] { return pump.closed || !pump.queue.empty(); });
    if (pump.queue.empty()) {
      ::shutdown(to, SHUT_WR);
      return;
    }
    const auto due = pump.queue.front().first;
    if (Clock::now() < due) {
      pump.wake.wait_until(lock, due);
      continue;
    }
    std::string data = std::move(pump.queue.front().second);
    pump.queue.pop_front();
    lock.unlock();
    for (std::size_t sent = 0; sent < data.size();) {
      const ssize_t n = ::send(to, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<std::size_t>(n);
    }
    bytes += data.size();
    lock.lock();
  }
}

}  // namespace

DelayProxy::DelayProxy(std::uint16_t targetPort, std::chrono::microseconds oneWay)
    : targetPort_(targetPort), oneWay_(oneWay) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::listen(listenFd_, 16);
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { Accept(); });
}

DelayProxy::~DelayProxy() {
  stopping_ = true;
  ::shutdown(listenFd_, SHUT_RDWR);
  acceptor_.join();
  ::close(listenFd_);
  std::lock_guard lock(mutex_);
  links_.clear();
}

void DelayProxy::Accept() {
  for (;;) {
    const int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0 || stopping_) {
      if (client >= 0) ::close(client);
      return;
    }
    const int server = ConnectLoopback(targetPort_);
    if (server < 0) {
      ::close(client);
      continue;
    }
    int one = 1;
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto link = std::make_shared<Link>();
    link->a = client;
    link->b = server;
    Link& l = *link;
    l.threads[0] = std::thread([&l, this] { Read(l.a, l.ab, oneWay_, stalled_); });
    l.threads[1] = std::thread([&l, this] { Write(l.b, l.ab, bytes_); });
    l.threads[2] = std::thread([&l, this] { Read(l.b, l.ba, oneWay_, stalled_); });
    l.threads[3] = std::thread([&l, this] { Write(l.a, l.ba, bytes_); });
    std::lock_guard lock(mutex_);
    links_.push_back(std::move(link));
  }
}

}  // namespace tagwell::bench
