// A TCP proxy on loopback that holds every piece of data for a fixed time
// in each direction, as a network link of round trip 2 x oneWay does. It
// can also stall (swallow everything, connections stay open, as a link
// that drops every packet looks to a program) and refuse new connections.
// For benchmarks; every thread it starts ends with it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tagwell::bench {

class DelayProxy final {
 public:
  // Forwards to 127.0.0.1:targetPort; listens on a free loopback port.
  DelayProxy(std::uint16_t targetPort, std::chrono::microseconds oneWay);
  ~DelayProxy();
  DelayProxy(const DelayProxy&) = delete;
  DelayProxy& operator=(const DelayProxy&) = delete;

  std::uint16_t port() const { return port_; }
  // Swallow what arrives from now on (true) or forward it again (false).
  void SetStalled(bool stalled) { stalled_ = stalled; }
  // Bytes forwarded so far, both directions.
  std::uint64_t bytes() const { return bytes_; }

 private:
  struct Link;
  void Accept();

  std::uint16_t targetPort_;
  std::chrono::microseconds oneWay_;
  int listenFd_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stalled_{false};
  std::atomic<bool> stopping_{false};
  std::atomic<std::uint64_t> bytes_{0};
  std::mutex mutex_;
  std::vector<std::shared_ptr<Link>> links_;
  std::thread acceptor_;
};

}  // namespace tagwell::bench
