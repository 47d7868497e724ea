#include "dcom/rpc/Server.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <system_error>

#include "dcom/rpc/Socket.h"

namespace tagwell::dcom {

ntlm::ServerNames ThisComputerNames() {
  char host[256] = {};
  ntlm::ServerNames names;
  if (::gethostname(host, sizeof host - 1) != 0 || host[0] == 0) return names;
  std::string dns = host;
  std::string netbios = ntlm::UpperName(dns.substr(0, dns.find('.')).substr(0, 15));
  names.netbiosComputer = netbios;
  names.dnsComputer = dns;
  if (auto dot = dns.find('.'); dot != std::string::npos) names.dnsDomain = dns.substr(dot + 1);
  return names;
}

struct Server::Connection {
  int fd = -1;
  std::string peer;
  bool closed = false;  // under mutex_: fd is closed
  std::atomic<bool> done{false};
  std::thread thread;
};

Server::Server(Dispatcher& dispatcher, ServerOptions options)
    : options_(std::move(options)), groups_(dispatcher) {
  settings_.dispatcher = &dispatcher;
  settings_.groups = &groups_;
  settings_.log = options_.log;
  std::string path = options_.accountsPath.empty() ? DcomAccountsPath() : options_.accountsPath;
  settings_.accounts = [path](std::vector<std::string>* problems) {
    return ReadDcomAccounts(path, problems);
  };
  settings_.names = options_.names;
  settings_.maxRequestBytes = options_.maxRequestBytes;
  settings_.minimumLevel = options_.minimumLevel;
  settings_.who = options_.who;
}

Server::~Server() {
  Stop();
}

bool Server::Start(std::string* error) {
  listener_ = ListenTcp(options_.address, options_.port, error);
  if (listener_ < 0) return false;
  wake_ = ::eventfd(0, EFD_CLOEXEC);
  port_ = LocalPort(listener_);
  settings_.port = port_;
  if (options_.log)
    options_.log(options_.who + ": listening on " + options_.address + ":" + std::to_string(port_));
  stopping_ = false;
  acceptor_ = std::thread([this] { Accept(); });
  return true;
}

void Server::Stop() {
  if (!acceptor_.joinable()) return;
  stopping_ = true;
  std::uint64_t one = 1;
  if (::write(wake_, &one, sizeof one) < 0) {
    // the acceptor also wakes once a second
  }
  acceptor_.join();
  ::close(listener_);
  ::close(wake_);
  listener_ = wake_ = -1;
  {
    std::lock_guard lock(mutex_);
    for (auto& connection : connections_)
      if (!connection->closed) ::shutdown(connection->fd, SHUT_RDWR);
  }
  Reap(true);
}

std::size_t Server::connections() const {
  std::lock_guard lock(mutex_);
  std::size_t open = 0;
  for (const auto& connection : connections_) open += connection->done ? 0 : 1;
  return open;
}

void Server::Accept() {
  while (!stopping_) {
    pollfd entries[2] = {{listener_, POLLIN, 0}, {wake_, POLLIN, 0}};
    int ready = ::poll(entries, 2, 1000);
    Reap(false);
    if (ready <= 0 || !(entries[0].revents & POLLIN)) continue;
    int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) Admit(fd);
  }
}

void Server::Admit(int fd) {
  std::string peer = PeerName(fd);
  std::string host = PeerHost(peer);
  std::lock_guard lock(mutex_);
  std::size_t open = 0;
  for (const auto& connection : connections_) open += connection->done ? 0 : 1;
  if (open >= options_.maxConnections || perAddress_[host] >= options_.maxPerAddress) {
    ::close(fd);
    NoteRefusal(peer);
    return;
  }
  ++perAddress_[host];
  auto connection = std::make_unique<Connection>();
  connection->fd = fd;
  connection->peer = peer;
  Connection* raw = connection.get();
  try {
    raw->thread = std::thread([this, raw] { Serve(*raw); });
  } catch (const std::system_error& error) {
    --perAddress_[host];
    ::close(fd);
    if (options_.log) options_.log(options_.who + ": cannot serve " + peer + ": " + error.what());
    return;
  }
  connections_.push_back(std::move(connection));
}

void Server::NoteRefusal(const std::string& peer) {
  ++refused_;
  auto now = std::chrono::steady_clock::now();
  if (lastRefusalLog_ != std::chrono::steady_clock::time_point{} &&
      now - lastRefusalLog_ < std::chrono::seconds(10))
    return;
  if (options_.log)
    options_.log(options_.who + ": refused " + std::to_string(refused_) +
                 " connection(s) over the limit of " + std::to_string(options_.maxConnections) +
                 " in all and " + std::to_string(options_.maxPerAddress) +
                 " per address, the latest from " + peer);
  refused_ = 0;
  lastRefusalLog_ = now;
}

void Server::Serve(Connection& connection) {
  {
    ServerSession session(settings_, connection.peer);
    Bytes pdu;
    std::vector<Bytes> replies;
    while (!stopping_) {
      auto wait = session.Established() ? options_.idleTimeout : options_.handshakeTimeout;
      if (ReadPdu(connection.fd, &pdu, Clock::now() + wait, options_.handshakeTimeout) !=
          ReadOutcome::Pdu)
        break;
      replies.clear();
      bool keep = session.OnPdu(std::move(pdu), &replies);
      auto deadline = Clock::now() + options_.handshakeTimeout;
      bool sent = true;
      for (const Bytes& reply : replies) sent = sent && SendAll(connection.fd, reply, deadline);
      if (!keep || !sent) break;
    }
  }
  std::lock_guard lock(mutex_);
  ::shutdown(connection.fd, SHUT_RDWR);
  ::close(connection.fd);
  connection.closed = true;
  if (--perAddress_[PeerHost(connection.peer)] == 0) perAddress_.erase(PeerHost(connection.peer));
  connection.done = true;
}

void Server::Reap(bool all) {
  std::list<std::unique_ptr<Connection>> finished;
  {
    std::lock_guard lock(mutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      if (all || (*it)->done) {
        finished.push_back(std::move(*it));
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& connection : finished) connection->thread.join();
}

}  // namespace tagwell::dcom
