#include "rpc/ServerThread.h"

#include <sys/socket.h>
#include <unistd.h>

#include <future>
#include <vector>

#include "rpc/Diagnostics.h"
#include "rpc/Endpoint.h"

namespace tagwell::rpc {

// What lives on the server thread; `executor` and `stop` are the only parts
// other threads touch.
struct ServerThread::Loop {
  kj::Own<const kj::Executor> executor;
  kj::Own<kj::CrossThreadPromiseFulfiller<void>> stop;
  kj::AsyncIoContext* io = nullptr;
  ObjectServer* server = nullptr;
  std::vector<kj::Own<kj::ConnectionReceiver>> listeners;
  // Kept until the server that holds their handshakes is gone.
  std::vector<std::unique_ptr<TlsAdmission>> admissions;
  kj::TaskSet* tasks = nullptr;
};

namespace {

class LogFailures final : public kj::TaskSet::ErrorHandler {
 public:
  void taskFailed(kj::Exception&& exception) override {
    Diagnose("tagwell rpc", "listener failed: %s", exception.getDescription().cStr());
  }
};

}  // namespace

ServerThread::ServerThread(ObjectFactory factory) : loop_(std::make_unique<Loop>()) {
  std::promise<void> ready;
  auto started = ready.get_future();
  thread_ = std::thread([this, &ready, factory = std::move(factory)]() mutable {
    auto io = kj::setupAsyncIo();
    auto stop = kj::newPromiseAndCrossThreadFulfiller<void>();
    auto server = std::make_unique<ObjectServer>(std::move(factory));
    LogFailures failures;
    auto tasks = kj::heap<kj::TaskSet>(failures);
    loop_->executor = kj::getCurrentThreadExecutor().addRef();
    loop_->stop = kj::mv(stop.fulfiller);
    loop_->io = &io;
    loop_->server = server.get();
    loop_->tasks = tasks.get();
    ready.set_value();
    stop.promise.wait(io.waitScope);
    // The accept loops go before their listeners, the connections with the
    // server; the admissions (their timers) after the handshakes the server
    // holds, and before the event loop.
    tasks = nullptr;
    loop_->listeners.clear();
    server = nullptr;
    loop_->admissions.clear();
  });
  started.wait();
}

ServerThread::~ServerThread() {
  loop_->stop->fulfill();
  thread_.join();
}

void ServerThread::Execute(std::function<void(Loop&)> work) {
  // From a served object's call (a test hook) the loop is this very thread.
  if (std::this_thread::get_id() == thread_.get_id()) return work(*loop_);
  loop_->executor->executeSync([&] { work(*loop_); });
}

bool ServerThread::ListenUnix(const std::string& path) {
  int fd = rpc::ListenUnix(path);
  if (fd < 0) return false;
  Execute([fd](Loop& loop) {
    auto listener = loop.io->lowLevelProvider->wrapListenSocketFd(
        fd, kj::LowLevelAsyncIoProvider::TAKE_OWNERSHIP);
    loop.tasks->add(loop.server->Listen(*listener, loop.io->provider->getTimer()));
    loop.listeners.push_back(kj::mv(listener));
  });
  return true;
}

std::uint16_t ServerThread::ListenTcp(const std::string& address) {
  std::uint16_t port = 0;
  int fd = rpc::ListenTcp(address, 0, &port);
  if (fd < 0) return 0;
  Execute([fd](Loop& loop) {
    auto listener = loop.io->lowLevelProvider->wrapListenSocketFd(
        fd, kj::LowLevelAsyncIoProvider::TAKE_OWNERSHIP);
    loop.tasks->add(loop.server->Listen(*listener, loop.io->provider->getTimer()));
    loop.listeners.push_back(kj::mv(listener));
  });
  return port;
}

std::uint16_t ServerThread::ListenTls(const std::string& address,
                                      std::shared_ptr<TlsIdentity> identity,
                                      TlsAdmissionOptions options) {
  std::string error;
  auto context = TlsContext::Make(TlsContext::Role::Server, std::move(identity), &error);
  if (!context) return 0;
  std::uint16_t port = 0;
  int fd = rpc::ListenTcp(address, 0, &port);
  if (fd < 0) return 0;
  Execute([fd, &context, &options](Loop& loop) {
    auto& timer = loop.io->provider->getTimer();
    loop.admissions.push_back(
        std::make_unique<TlsAdmission>(std::move(context), std::move(options), timer));
    auto listener = loop.io->lowLevelProvider->wrapListenSocketFd(
        fd, kj::LowLevelAsyncIoProvider::TAKE_OWNERSHIP);
    loop.tasks->add(loop.server->Listen(*listener, timer, loop.admissions.back().get()));
    loop.listeners.push_back(kj::mv(listener));
  });
  return port;
}

int ServerThread::ConnectPair() {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds) != 0) return -1;
  Execute([fd = fds[1]](Loop& loop) {
    loop.server->Accept(
        loop.io->lowLevelProvider->wrapSocketFd(fd, kj::LowLevelAsyncIoProvider::TAKE_OWNERSHIP));
  });
  return fds[0];
}

std::size_t ServerThread::ConnectionCount() {
  std::size_t count = 0;
  Execute([&count](Loop& loop) { count = loop.server->connectionCount(); });
  return count;
}

void ServerThread::DropConnections() {
  Execute([](Loop& loop) { loop.server->DropConnections(); });
}

}  // namespace tagwell::rpc
