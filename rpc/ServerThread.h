// An ObjectServer on a thread of its own: serves in-process COM objects over
// real sockets, for tests and benchmarks (and any embedder that wants a
// server beside its own work).
//
// Thread rules: the methods may be called from any thread, also from a
// served object's call (which runs on the server thread). The destructor ends
// every connection and joins the thread; a served object that blocks its
// call blocks that too, so release such objects first.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "rpc/ObjectServer.h"
#include "rpc/TlsAdmission.h"

namespace tagwell::rpc {

class ServerThread final {
 public:
  explicit ServerThread(ObjectFactory factory);
  ServerThread(const ServerThread&) = delete;
  ServerThread& operator=(const ServerThread&) = delete;
  ~ServerThread();

  // Listens on a unix socket at path (which must not exist yet); false on
  // failure.
  bool ListenUnix(const std::string& path);
  // Listens on TCP at the numeric address (e.g. "127.0.0.1") and a free
  // port, which it returns; 0 on failure.
  std::uint16_t ListenTcp(const std::string& address);
  // The same over TLS, admitting clients as options say, with this
  // identity; 0 on failure.
  std::uint16_t ListenTls(const std::string& address, std::shared_ptr<TlsIdentity> identity,
                          TlsAdmissionOptions options);
  // Serves a new connection over a socket pair and returns the client's end
  // (the caller owns it), or -1.
  int ConnectPair();

  std::size_t ConnectionCount();
  // Ends every connection at once, as a crash of the server would.
  void DropConnections();

 private:
  struct Loop;
  void Run(ObjectFactory factory);
  // Runs work on the server thread and waits for it.
  void Execute(std::function<void(Loop&)> work);

  std::unique_ptr<Loop> loop_;
  std::thread thread_;
};

}  // namespace tagwell::rpc
