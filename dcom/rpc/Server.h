// The server side of DCE/RPC over TCP: a listener on an IPv4 address and
// port, one thread per connection, each running a ServerSession and handing
// calls to the Dispatcher.
//
// Limits: at most maxConnections connections in all and maxPerAddress from
// one peer address (more are closed at once, one log line per burst); a
// peer must finish each PDU, and its bind and login, within
// handshakeTimeout, and is dropped after idleTimeout without a PDU.
//
// Thread rules: Start and Stop from one thread; the Dispatcher is called
// from the connections' threads (see Dispatch.h). Stop (and the destructor)
// waits for the calls in progress.
#pragma once

#include <atomic>
#include <chrono>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "dcom/rpc/ServerSession.h"

namespace tagwell::dcom {

// The names the server's NTLM challenge gives: the NetBIOS name (the host
// name's first label, uppercase, at most 15 characters), the DNS name, and
// the workgroup "WORKGROUP".
ntlm::ServerNames ThisComputerNames();

struct ServerOptions {
  std::string address = "127.0.0.1";
  std::uint16_t port = 0;  // 0: one the system picks; port() tells it
  // The accounts file; empty: DcomAccountsPath().
  std::string accountsPath;
  ntlm::ServerNames names = ThisComputerNames();
  std::size_t maxConnections = 256;
  std::size_t maxPerAddress = 32;
  std::chrono::milliseconds handshakeTimeout = std::chrono::seconds(10);
  std::chrono::milliseconds idleTimeout = std::chrono::minutes(10);
  std::size_t maxRequestBytes = 4 << 20;
  // Calls of connections below this level get access denied (the runtime
  // may decide more finely per call: it sees Caller::level).
  AuthLevel minimumLevel = AuthLevel::None;
  LogSink log;                       // one line per call; none: nothing is logged
  std::string who = "tagwell dcom";  // the name in front of the log lines
};

class Server {
 public:
  Server(Dispatcher& dispatcher, ServerOptions options);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Listens and starts accepting; false with the reason in *error.
  bool Start(std::string* error);
  // The port listened on (after Start).
  std::uint16_t port() const { return port_; }
  // Closes the listener and every connection; waits for their threads.
  void Stop();
  std::size_t connections() const;

 private:
  struct Connection;
  void Accept();
  void Admit(int fd);
  void Serve(Connection& connection);
  void Reap(bool all);
  void NoteRefusal(const std::string& peer);

  ServerOptions options_;
  AssociationGroups groups_;
  SessionSettings settings_;
  int listener_ = -1;
  int wake_ = -1;
  std::uint16_t port_ = 0;
  std::thread acceptor_;
  mutable std::mutex mutex_;
  std::list<std::unique_ptr<Connection>> connections_;
  std::map<std::string, std::size_t> perAddress_;
  std::size_t refused_ = 0;
  std::chrono::steady_clock::time_point lastRefusalLog_{};
  std::atomic<bool> stopping_{false};
};

}  // namespace tagwell::dcom
