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
  void Accept(kj::Own<kj::AsyncIoStream> stream);
  // Accepts connections for as long as the returned promise is kept; after
  // a failed accept (out of descriptors...) it waits a moment on timer.
  kj::Promise<void> Listen(kj::ConnectionReceiver& receiver, kj::Timer& timer);

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
  std::set<Link*> links_;
  std::function<void(std::size_t)> observer_;
  kj::Own<kj::TaskSet> tasks_;
};

}  // namespace tagwell::rpc
