// Connecting and one synchronous read over DCOM (NTLM, packet privacy and
// packet integrity) against the same over tagwell-server's TLS, all on
// loopback against the simulation:
//   Connect/dcom-privacy, Connect/dcom-integrity, Connect/tls
//                  activation (or TLS handshake) to an IOPCServer, released
//   Read/dcom-privacy, Read/dcom-integrity, Read/tls
//                  IOPCSyncIO::Read of one item from the device
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include "dcom/ClientActivation.h"
#include "dcom/rpc/Accounts.h"
#include "dcom/rpc/Server.h"
#include "platform/com/Text.h"
#include "rpc/Client.h"
#include "rpc/Endpoint.h"
#include "rpc/ServerThread.h"
#include "rpc/Tls.h"
#include "server/AddressSpaceXml.h"
#include "server/Simulation.h"
#include "tests/dcom/client/DcomPeer.h"
#include "tests/support/Ports.h"
#include "tests/support/TempDir.h"

namespace tagwell {
namespace {

using namespace com;

testing::TempDir& Folder() {
  static testing::TempDir dir;
  return dir;
}

// The simulation over DCOM on a loopback port, account PLANT\op.
struct DcomSide {
  DcomSide() {
    std::string error;
    dcom::AddDcomAccount(Folder().File("accounts"), "PLANT\\op", "Secret-1", false, &error);
    runtime = dcom::MakeSimulationRuntime(port, dcom::AuthLevel::PacketIntegrity);
    dcom::ServerOptions options;
    options.port = port;
    options.accountsPath = Folder().File("accounts");
    server = std::make_unique<dcom::Server>(*runtime, options);
    server->Start(&error);
  }
  ComPtr<IOPCServer> Connect(dcom::AuthLevel level) {
    credentials::CredentialBook book(nullptr);
    const std::string key = "127.0.0.1[" + std::to_string(port) + "]";
    book.Use(key, {"op", "PLANT", "Secret-1"});
    dcom::ClientOptions options;
    options.level = level;
    options.credentials = &book;
    dcom::DcomActivator activator(options);
    MULTI_QI entry{&IID_IOPCServer, nullptr, S_OK};
    activator.Activate(server::CLSID_TagwellSimulation, Utf8ToUtf16(key), 1, &entry);
    return ComPtr<IOPCServer>::Adopt(static_cast<IOPCServer*>(static_cast<void*>(entry.pItf)));
  }
  std::uint16_t port = testing::FreeLoopbackPort();
  std::unique_ptr<dcom::Dispatcher> runtime;
  std::unique_ptr<dcom::Server> server;
};

// The simulation over tagwell-server's TLS.
struct TlsSide {
  TlsSide()
      : thread([this](const CLSID& clsid, IUnknown** object) -> HRESULT {
          if (clsid != server::CLSID_TagwellSimulation) return REGDB_E_CLASSNOTREG;
          return server::CreateSimulationServer(space, IID_IUnknown,
                                                reinterpret_cast<void**>(object));
        }) {
    std::string error;
    auto serverIdentity = rpc::TlsIdentity::LoadOrCreate(Folder().File("server.pem"), &error);
    client = rpc::TlsIdentity::LoadOrCreate(Folder().File("client.pem"), &error);
    rpc::TlsAdmissionOptions options;
    options.allowAnyClient = true;
    options.who = "bench server";
    port = thread.ListenTls("127.0.0.1", serverIdentity, options);
  }
  ComPtr<IOPCServer> Connect() {
    ComPtr<IOPCServer> object;
    auto address = rpc::ResolveTcp("127.0.0.1", port, std::chrono::seconds(5));
    int fd = address.empty() ? -1 : ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&address[0].storage),
                            address[0].length) != 0)
      return object;
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
    std::string fingerprint;
    rpc::CreateObjectOverTls(fd, client, server::CLSID_TagwellSimulation, IID_IOPCServer,
                             object.ReceiveVoid(), &fingerprint);
    return object;
  }
  std::shared_ptr<server::AddressSpace> space = server::MakeDefaultAddressSpace();
  rpc::ServerThread thread;
  std::shared_ptr<rpc::TlsIdentity> client;
  std::uint16_t port = 0;
};

DcomSide& Dcom() {
  static DcomSide side;
  return side;
}

TlsSide& Tls() {
  static TlsSide side;
  return side;
}

ComPtr<IOPCServer> ConnectBy(int how) {
  if (how == 0) return Dcom().Connect(dcom::AuthLevel::PacketPrivacy);
  if (how == 1) return Dcom().Connect(dcom::AuthLevel::PacketIntegrity);
  return Tls().Connect();
}

const char* kLabels[] = {"dcom-privacy", "dcom-integrity", "tls"};

void Connect(benchmark::State& state) {
  state.SetLabel(kLabels[state.range(0)]);
  for (auto _ : state) {
    if (!ConnectBy(static_cast<int>(state.range(0)))) {
      state.SkipWithError("cannot connect");
      break;
    }
  }
}
BENCHMARK(Connect)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

void Read(benchmark::State& state) {
  state.SetLabel(kLabels[state.range(0)]);
  ComPtr<IOPCServer> server = ConnectBy(static_cast<int>(state.range(0)));
  OPCHANDLE groupHandle = 0;
  DWORD rate = 0;
  ComPtr<IOPCItemMgt> group;
  if (server)
    server->AddGroup(u"Bench", FALSE, 1000, 0, nullptr, nullptr, 0, &groupHandle, &rate,
                     IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(group.Receive()));
  std::u16string id = u"OPC.ConnectionMonitor";
  OPCITEMDEF def{const_cast<WCHAR*>(u""), id.data(), TRUE, 1, 0, nullptr, VT_EMPTY, 0};
  OPCITEMRESULT* results = nullptr;
  HRESULT* errors = nullptr;
  if (!group || group->AddItems(1, &def, &results, &errors) != S_OK) {
    state.SkipWithError("cannot add the item");
    return;
  }
  OPCHANDLE handle = results[0].hServer;
  CoTaskMemFree(results[0].pBlob);
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
BENCHMARK(Read)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
}  // namespace tagwell

BENCHMARK_MAIN();
