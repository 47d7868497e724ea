// The serving side: every connection gets the Activator as its bootstrap
// capability and each create() a fresh object from the factory.
//
// Thread rules: an ObjectServer lives on one thread with a KJ event loop and
// is used only there; the objects it serves are called on that thread.
#pragma once

#include <capnp/capability.h>
#include <kj/async-io.h>
#include <kj/timer.h>

#include <cstddef>
#include <functional>
#include <set>

#include "platform/com/Unknown.h"

namespace tagwell::rpc {

// What a client may do with the objects it gets: a ReadOnly client's
// writes fail (each item OPC_E_BADRIGHTS) before they reach the object;
// everything else it may do.
enum class Rights { ReadWrite, ReadOnly };

// Decides whether a new connection is served, and with which rights (the
// TLS handshake of a remote client, say). A broken promise drops the
// connection; the admission says why where it wants to.
class Admission {
 public:
  struct Admitted {
    kj::Own<kj::AsyncIoStream> stream;
    Rights rights;
  };
  virtual ~Admission() = default;
  virtual kj::Promise<Admitted> Admit(kj::Own<kj::AsyncIoStream> stream) = 0;
};

// Creates an object of class clsid for a client: S_OK and one reference in
// *object, or a failure (REGDB_E_CLASSNOTREG for a class not served here).
using ObjectFactory = std::function<com::HRESULT(const com::CLSID& clsid, com::IUnknown** object)>;

class ObjectServer final {
 public:
  explicit ObjectServer(ObjectFactory factory);
  ObjectServer(const ObjectServer&) = delete;
  ObjectServer& operator=(const ObjectServer&) = delete;
  // Closes every connection still open.
  ~ObjectServer();

  // Serves one connection until the peer goes away.
  void Accept(kj::Own<kj::AsyncIoStream> stream, Rights rights = Rights::ReadWrite);
  // Accepts connections for as long as the returned promise is kept; after
  // a failed accept (out of descriptors...) it waits a moment on timer.
  // With an admission, each connection is served once admitted; while it
  // is being admitted, others are accepted and served. The admission must
  // outlive this server.
  kj::Promise<void> Listen(kj::ConnectionReceiver& receiver, kj::Timer& timer,
                           Admission* admission = nullptr);

  std::size_t connectionCount() const { return links_.size(); }
  // Told the new number of connections whenever one opens or ends.
  void SetConnectionObserver(std::function<void(std::size_t)> observer);
  // Ends every connection at once, as a crash of this process would: the
  // objects they held are released.
  void DropConnections();

 private:
  struct Link;
  class Failures;

  void Changed();

  kj::Own<Failures> failures_;
  capnp::Capability::Client bootstrap_;
  capnp::Capability::Client readOnlyBootstrap_;
  std::set<Link*> links_;
  std::function<void(std::size_t)> observer_;
  kj::Own<kj::TaskSet> tasks_;
};

}  // namespace tagwell::rpc
