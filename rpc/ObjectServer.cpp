#include "rpc/ObjectServer.h"

#include <capnp/rpc-twoparty.h>

#include "rpc/Diagnostics.h"
#include "rpc/Marshal.h"
#include "rpc/Stub.h"

namespace tagwell::rpc {

using namespace com;

namespace {

class ActivatorStub final : public wire::Activator::Server {
 public:
  ActivatorStub(ObjectFactory factory, Rights rights)
      : factory_(std::move(factory)), rights_(rights) {}

 protected:
  kj::Promise<void> create(CreateContext context) override {
    IUnknown* object = nullptr;
    HRESULT hr = factory_(GuidFromWire(context.getParams().getClsid()), &object);
    auto results = context.getResults();
    if (object) {
      if (SUCCEEDED(hr)) ObjectStub::Marshal(object, results.initObject(), rights_);
      object->Release();
    }
    results.setHr(hr);
    return kj::READY_NOW;
  }

  kj::Promise<void> sync(SyncContext) override { return kj::READY_NOW; }

 private:
  ObjectFactory factory_;
  Rights rights_;
};

}  // namespace

struct ObjectServer::Link {
  Link(kj::Own<kj::AsyncIoStream> connection, capnp::Capability::Client bootstrap)
      : stream(kj::mv(connection)),
        network(*stream, capnp::rpc::twoparty::Side::SERVER),
        rpc(capnp::makeRpcServer(network, kj::mv(bootstrap))) {}

  kj::Own<kj::AsyncIoStream> stream;
  capnp::TwoPartyVatNetwork network;
  capnp::RpcSystem<capnp::rpc::twoparty::VatId> rpc;
};

// A connection that fails ends like one whose peer went away.
class ObjectServer::Failures final : public kj::TaskSet::ErrorHandler {
 public:
  void taskFailed(kj::Exception&& exception) override {
    if (exception.getType() == kj::Exception::Type::DISCONNECTED) return;
    Diagnose("tagwell rpc", "connection failed: %s", exception.getDescription().cStr());
  }
};

ObjectServer::ObjectServer(ObjectFactory factory)
    : failures_(kj::heap<Failures>()),
      bootstrap_(kj::heap<ActivatorStub>(factory, Rights::ReadWrite)),
      readOnlyBootstrap_(kj::heap<ActivatorStub>(std::move(factory), Rights::ReadOnly)),
      tasks_(kj::heap<kj::TaskSet>(*failures_)) {}

ObjectServer::~ObjectServer() {
  observer_ = nullptr;
  tasks_ = nullptr;  // destroys the links with their disconnect watches
}

void ObjectServer::Accept(kj::Own<kj::AsyncIoStream> stream, Rights rights) {
  auto link =
      kj::heap<Link>(kj::mv(stream), rights == Rights::ReadOnly ? readOnlyBootstrap_ : bootstrap_);
  Link* raw = link.get();
  links_.insert(raw);
  tasks_->add(raw->network.onDisconnect().attach(kj::mv(link)).then([this, raw] {
    links_.erase(raw);
    Changed();
  }));
  Changed();
}

kj::Promise<void> ObjectServer::Listen(kj::ConnectionReceiver& receiver, kj::Timer& timer,
                                       Admission* admission) {
  return receiver.accept().then(
      [this, &receiver, &timer, admission](kj::Own<kj::AsyncIoStream> stream) {
        if (!admission) {
          Accept(kj::mv(stream));
        } else {
          tasks_->add(admission->Admit(kj::mv(stream))
                          .then(
                              [this](Admission::Admitted admitted) {
                                Accept(kj::mv(admitted.stream), admitted.rights);
                              },
                              [](kj::Exception&&) {}));
        }
        return Listen(receiver, timer, admission);
      },
      [this, &receiver, &timer, admission](kj::Exception&& exception) {
        Diagnose("tagwell rpc", "accept failed: %s", exception.getDescription().cStr());
        return timer.afterDelay(100 * kj::MILLISECONDS).then([this, &receiver, &timer, admission] {
          return Listen(receiver, timer, admission);
        });
      });
}

void ObjectServer::SetConnectionObserver(std::function<void(std::size_t)> observer) {
  observer_ = std::move(observer);
}

void ObjectServer::DropConnections() {
  for (Link* link : links_) {
    // A peer that has gone already makes shutdown fail (ENOTCONN): so much
    // the better.
    kj::runCatchingExceptions([link] {
      link->stream->shutdownWrite();
      link->stream->abortRead();
    });
  }
}

void ObjectServer::Changed() {
  if (observer_) observer_(links_.size());
}

}  // namespace tagwell::rpc
