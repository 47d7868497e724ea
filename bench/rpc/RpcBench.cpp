// RPC speed:
//   ProxyRead      IOPCSyncIO::Read of one item through the proxies, over a
//                  unix socket, served by a server thread of this process
//   EchoCall       a bare Cap'n Proto call (one number each way) over the
//                  same kind of socket and server thread: the floor
//   ProxyRead / EchoCall is the cost of the COM layer; the goal is <= 1.5.
//   RemoteRead/0   ProxyRead over TCP loopback, in clear text
//   RemoteRead/1   the same over TLS; the goal is RemoteRead/1 <= 1.3 x
//                  RemoteRead/0
//   BrowseWalk/1   the client's address-space walk (BrowseAddressSpace: one
//                  name per IEnumString::Next, ChangeBrowsePosition,
//                  GetItemID) over 10,000 item IDs, through the proxies
//   BrowseWalk/0   the same walk on the in-process object
#include <benchmark/benchmark.h>
#include <capnp/rpc-twoparty.h>
#include <fcntl.h>
#include <kj/async-io.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <future>
#include <thread>

#include "browse/Browse.h"
#include "echo.capnp.h"
#include "rpc/Client.h"
#include "rpc/Endpoint.h"
#include "rpc/ServerThread.h"
#include "rpc/Tls.h"
#include "server/AddressSpace.h"
#include "server/AddressSpaceXml.h"
#include "server/Simulation.h"
#include "tests/support/FakeUi.h"
#include "tests/support/TempDir.h"

namespace tagwell {
namespace {

using namespace com;

testing::TempDir& Folder() {
  static testing::TempDir dir;
  return dir;
}

// A simulation server for the whole program, on a unix socket.
class SimulationServer final {
 public:
  explicit SimulationServer(std::shared_ptr<server::AddressSpace> space)
      : space_(std::move(space)), thread_([this](const CLSID& clsid, IUnknown** object) -> HRESULT {
          if (clsid != server::CLSID_TagwellSimulation) return REGDB_E_CLASSNOTREG;
          return server::CreateSimulationServer(space_, IID_IUnknown,
                                                reinterpret_cast<void**>(object));
        }) {
    static int count = 0;
    endpoint_ = Folder().File("sim" + std::to_string(++count) + ".sock");
    thread_.ListenUnix(endpoint_);
  }

  // A client over TCP loopback, in clear text or over TLS.
  ComPtr<IOPCServer> ConnectTcp(bool tls) {
    ComPtr<IOPCServer> server;
    if (tcpPort_ == 0) {
      std::string error;
      auto serverIdentity = rpc::TlsIdentity::LoadOrCreate(Folder().File("server.pem"), &error);
      clientIdentity_ = rpc::TlsIdentity::LoadOrCreate(Folder().File("client.pem"), &error);
      rpc::TlsAdmissionOptions options;
      options.allowAnyClient = true;
      options.who = "bench server";
      tcpPort_ = thread_.ListenTcp("127.0.0.1");
      tlsPort_ = thread_.ListenTls("127.0.0.1", serverIdentity, options);
    }
    std::vector<rpc::SocketAddress> address =
        rpc::ResolveTcp("127.0.0.1", tls ? tlsPort_ : tcpPort_, std::chrono::seconds(5));
    int fd = address.empty() ? -1 : ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&address[0].storage),
                            address[0].length) != 0)
      return server;
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
    std::string fingerprint;
    if (tls)
      rpc::CreateObjectOverTls(fd, clientIdentity_, server::CLSID_TagwellSimulation, IID_IOPCServer,
                               server.ReceiveVoid(), &fingerprint);
    else
      rpc::CreateObjectOverSocket(fd, server::CLSID_TagwellSimulation, IID_IOPCServer,
                                  server.ReceiveVoid());
    return server;
  }

  ComPtr<IOPCServer> Connect() {
    ComPtr<IOPCServer> server;
    rpc::CreateObjectAt("unix:" + endpoint_, server::CLSID_TagwellSimulation, IID_IOPCServer,
                        server.ReceiveVoid());
    return server;
  }
  const std::shared_ptr<server::AddressSpace>& space() const { return space_; }

 private:
  std::shared_ptr<server::AddressSpace> space_;
  rpc::ServerThread thread_;
  std::string endpoint_;
  std::uint16_t tcpPort_ = 0;
  std::uint16_t tlsPort_ = 0;
  std::shared_ptr<rpc::TlsIdentity> clientIdentity_;
};

void Reads(benchmark::State& state, ComPtr<IOPCServer> server) {
  if (!server) {
    state.SkipWithError("cannot connect");
    return;
  }
  OPCHANDLE groupHandle = 0;
  DWORD rate = 0;
  ComPtr<IOPCItemMgt> group;
  server->AddGroup(u"Bench", FALSE, 1000, 0, nullptr, nullptr, 0, &groupHandle, &rate,
                   IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(group.Receive()));
  std::u16string id = u"OPC.ConnectionMonitor";
  OPCITEMDEF def{nullptr, id.data(), TRUE, 1, 0, nullptr, VT_EMPTY, 0};
  OPCITEMRESULT* results = nullptr;
  HRESULT* errors = nullptr;
  if (!group || group->AddItems(1, &def, &results, &errors) != S_OK) {
    state.SkipWithError("cannot add the item");
    return;
  }
  OPCHANDLE handle = results[0].hServer;
  CoTaskMemFree(results);
  CoTaskMemFree(errors);
  ComPtr<IOPCSyncIO> io;
  group.As(IID_IOPCSyncIO, &io);
  for (auto _ : state) {
    OPCITEMSTATE* states = nullptr;
    if (io->Read(OPC_DS_DEVICE, 1, &handle, &states, &errors) != S_OK) {
      state.SkipWithError("Read failed");
      break;
    }
    VariantClear(&states[0].vDataValue);
    CoTaskMemFree(states);
    CoTaskMemFree(errors);
  }
}

void ProxyRead(benchmark::State& state) {
  static SimulationServer served(server::MakeDefaultAddressSpace());
  Reads(state, served.Connect());
}
BENCHMARK(ProxyRead)->UseRealTime();

void RemoteRead(benchmark::State& state) {
  static SimulationServer served(server::MakeDefaultAddressSpace());
  Reads(state, served.ConnectTcp(state.range(0) != 0));
}
BENCHMARK(RemoteRead)->Arg(0)->Arg(1)->UseRealTime();

class EchoServer final : public bench::Echo::Server {
 protected:
  kj::Promise<void> echo(EchoContext context) override {
    context.getResults().setValue(context.getParams().getValue());
    return kj::READY_NOW;
  }
};

// A bare Cap'n Proto server thread, like rpc::ServerThread but for Echo.
class EchoThread final {
 public:
  explicit EchoThread(const std::string& path) {
    int fd = rpc::ListenUnix(path);
    std::promise<void> ready;
    auto started = ready.get_future();
    thread_ = std::thread([this, fd, &ready] {
      auto io = kj::setupAsyncIo();
      auto stop = kj::newPromiseAndCrossThreadFulfiller<void>();
      stop_ = kj::mv(stop.fulfiller);
      capnp::TwoPartyServer server(kj::heap<EchoServer>());
      auto listener =
          io.lowLevelProvider->wrapListenSocketFd(fd, kj::LowLevelAsyncIoProvider::TAKE_OWNERSHIP);
      auto listening = server.listen(*listener).eagerlyEvaluate(nullptr);
      ready.set_value();
      stop.promise.wait(io.waitScope);
    });
    started.wait();
  }
  ~EchoThread() {
    stop_->fulfill();
    thread_.join();
  }

 private:
  std::thread thread_;
  kj::Own<kj::CrossThreadPromiseFulfiller<void>> stop_;
};

void EchoCall(benchmark::State& state) {
  std::string path = Folder().File("echo.sock");
  ::unlink(path.c_str());
  EchoThread thread(path);
  auto io = kj::setupAsyncIo();
  auto stream = io.lowLevelProvider->wrapSocketFd(rpc::ConnectUnix(path),
                                                  kj::LowLevelAsyncIoProvider::TAKE_OWNERSHIP);
  capnp::TwoPartyClient client(*stream);
  auto echo = client.bootstrap().castAs<bench::Echo>();
  std::uint64_t n = 0;
  for (auto _ : state) {
    auto request = echo.echoRequest();
    request.setValue(++n);
    auto response = request.send().wait(io.waitScope);
    benchmark::DoNotOptimize(response.getValue());
  }
}
BENCHMARK(EchoCall)->UseRealTime();

// 10 devices of 10 groups of 100 items: 10,000 item IDs.
std::shared_ptr<server::AddressSpace> TenThousandNames() {
  server::AddressSpaceDefinition definition;
  for (int d = 0; d < 10; ++d) {
    server::BranchDefinition device{"Device" + std::to_string(d), {}, {}};
    for (int g = 0; g < 10; ++g) {
      server::BranchDefinition group{"Group" + std::to_string(g), {}, {}};
      for (int i = 0; i < 100; ++i) {
        server::ItemDefinition item;
        item.name = "Value" + std::to_string(i);
        item.canonicalType = VT_R8;
        item.initialValue->vt = VT_R8;
        item.initialValue->dblVal = i;
        group.items.push_back(std::move(item));
      }
      device.branches.push_back(std::move(group));
    }
    definition.root.branches.push_back(std::move(device));
  }
  std::string error;
  auto space =
      server::AddressSpace::Create(std::move(definition), server::MakeSystemClock(), {}, &error);
  if (!space) std::fprintf(stderr, "address space: %s\n", error.c_str());
  return space;
}

void BrowseWalk(benchmark::State& state) {
  static SimulationServer served(TenThousandNames());
  ComPtr<IOPCServer> server;
  if (state.range(0) == 1) {
    server = served.Connect();
  } else {
    server::CreateSimulationServer(served.space(), IID_IOPCServer, server.ReceiveVoid());
  }
  ComPtr<IOPCBrowseServerAddressSpace> browse;
  if (!server || FAILED(server.As(IID_IOPCBrowseServerAddressSpace, &browse))) {
    state.SkipWithError("no browse interface");
    return;
  }
  testing::FakeClient fake(Folder().path());
  Client& client = fake.client;
  CoGetMalloc(MEMCTX_TASK, &client.state.ptrIMalloc);
  client.state.ptrIOPCBrowseServerAddressSpace = browse.Get();
  int names = 0;
  for (auto _ : state) {
    BrowseAddressSpace(client);
    state.PauseTiming();
    names = client.browse.browseItemCount;
    if (names < 10000) state.SkipWithError("names missing");
    client.browse = BrowseLists{};
    client.ui.serverInfo->ResetContent();
    browse->ChangeBrowsePosition(OPC_BROWSE_TO, u"");
    state.ResumeTiming();
  }
  state.counters["names"] = names;
  client.state.ptrIMalloc->Release();
}
BENCHMARK(BrowseWalk)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace tagwell

BENCHMARK_MAIN();
