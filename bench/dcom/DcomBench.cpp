// One item read synchronously from the device, over DCOM (the transport's
// client with NTLM, the runtime's stubs) and over the TLS face, against the
// same simulation in this process.
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "dcom/Activation.h"
#include "dcom/Iids.h"
#include "dcom/NdrOaut.h"
#include "dcom/Runtime.h"
#include "dcom/opc/OpcNdr.h"
#include "dcom/rpc/Accounts.h"
#include "dcom/rpc/Client.h"
#include "dcom/rpc/Server.h"
#include "rpc/Client.h"
#include "rpc/Endpoint.h"
#include "rpc/ServerThread.h"
#include "rpc/Tls.h"
#include "server/AddressSpaceXml.h"
#include "server/Simulation.h"
#include "tests/support/TempDir.h"

namespace {

using namespace com;
using namespace tagwell;
using namespace tagwell::dcom;
using namespace std::chrono_literals;

testing::TempDir& Folder() {
  static testing::TempDir dir;
  return dir;
}

std::shared_ptr<server::AddressSpace> Space() {
  static auto space = server::MakeDefaultAddressSpace();
  return space;
}

ServedClass Simulation() {
  return {server::CLSID_TagwellSimulation, server::kSimulationProgId, "", [](IUnknown** object) {
            return server::CreateSimulationServer(Space(), IID_IUnknown,
                                                  reinterpret_cast<void**>(object));
          }};
}

// tagwell-server's DCOM face in this process, with one account.
struct DcomServed {
  std::unique_ptr<Runtime> runtime;
  std::unique_ptr<Server> server;

  DcomServed() {
    std::string error;
    std::string accounts = Folder().File("dcom-accounts");
    AddDcomAccount(accounts, "BENCH\\reader", "Bench-2026", false, &error);
    ServerOptions options;
    options.accountsPath = accounts;
    runtime = std::make_unique<Runtime>(RuntimeOptions{}, std::vector<ServedClass>{Simulation()});
    server = std::make_unique<Server>(*runtime, options);
    server->Start(&error);
  }
};

// A DCOM client's session up to a group with one item: the calls a proxy
// makes, in NDR written here.
class DcomSession {
 public:
  bool Open(std::uint16_t port, AuthLevel level) {
    std::string error;
    ClientAuth auth{level, "reader", "BENCH", "Bench-2026", std::nullopt, "BENCH"};
    if (!connection_.Connect("127.0.0.1", port, 5s, &error) ||
        !connection_.Bind({IID_IRemoteSCMActivator, 0, 0}, auth, 5s, &error))
      return false;
    for (const IID& iid : {IID_IOPCServer, IID_IOPCItemMgt, IID_IOPCSyncIO, IID_IRemUnknown})
      if (!connection_.AlterContext({iid, 0, 0}, 5s, &contexts_[Index(iid)], &error)) return false;
    IPID server = Activate();
    IPID group = AddGroup(server);
    return AddItem(group) && QuerySyncIo(group);
  }

  bool Read() {
    NdrWriter w;
    WriteOrpcThis(w, OrpcThis{});
    w.U16(OPC_DS_DEVICE);
    w.U32(1);
    w.Array<std::uint32_t>(std::vector<std::uint32_t>{handle_});
    NdrReader r = Call(IID_IOPCSyncIO, 3, io_, w);
    OPCITEMSTATE* states = opc::ReadItemStates(r, 1);
    HRESULT* errors = opc::ReadErrors(r, 1);
    bool ok = states && r.I32() == S_OK;
    opc::FreeItemStates(states, 1);
    CoTaskMemFree(errors);
    return ok;
  }

 private:
  static int Index(const IID& iid) {
    if (iid == IID_IRemUnknown) return 4;
    return iid == IID_IOPCServer ? 1 : iid == IID_IOPCItemMgt ? 2 : iid == IID_IOPCSyncIO ? 3 : 0;
  }

  NdrReader Call(const IID& iid, std::uint16_t opnum, const IPID& object, NdrWriter& w) {
    answer_ = connection_.Call(opnum, &object, w.bytes(), 5s, contexts_[Index(iid)]);
    NdrReader r(answer_.stub);
    if (!answer_.ok || answer_.fault) r.Fail();
    ReadOrpcThat(r);
    return r;
  }

  IPID Activate() {
    NdrWriter w;
    WriteOrpcThis(w, OrpcThis{});
    w.Pointer(false);
    w.Pointer(true);
    ActivationRequest wanted{server::CLSID_TagwellSimulation, {IID_IOPCServer}, 0x10};
    WriteInterfacePointer(
        w, MakeCustomObjref(IID_IActivationPropertiesIn, CLSID_ActivationPropertiesIn,
                            WriteActivationRequest(wanted)));
    answer_ = connection_.Call(4, nullptr, w.bytes(), 5s, 0);
    NdrReader r(answer_.stub);
    ReadOrpcThat(r);
    if (!r.Pointer()) return {};
    auto blob = ParseObjref(ReadInterfacePointer(r));
    auto reply = blob ? ReadActivationReply(blob->data) : std::nullopt;
    if (!reply || reply->objrefs.empty() || reply->objrefs[0].empty()) return {};
    remUnknown_ = reply->remUnknown;
    return ParseObjref(reply->objrefs[0])->std.ipid;
  }

  IPID AddGroup(const IPID& server) {
    NdrWriter w;
    WriteOrpcThis(w, OrpcThis{});
    w.WideString(u"Bench");
    w.I32(0);
    w.U32(1000);
    w.U32(0);
    w.Pointer(false);
    w.Pointer(false);
    w.U32(0);
    w.Guid(IID_IOPCItemMgt);
    NdrReader r = Call(IID_IOPCServer, 3, server, w);
    r.U32();
    r.U32();
    if (!r.Pointer()) return {};
    auto objref = ParseObjref(ReadInterfacePointer(r));
    group_ = objref ? objref->std.ipid : GUID_NULL;
    return group_;
  }

  bool AddItem(const IPID& group) {
    OPCITEMDEF def{nullptr, const_cast<LPWSTR>(u"Boiler.Setpoint"), TRUE, 1, 0, nullptr, 0, 0};
    NdrWriter w;
    WriteOrpcThis(w, OrpcThis{});
    w.U32(1);
    opc::WriteItemDefs(w, &def, 1);
    NdrReader r = Call(IID_IOPCItemMgt, 3, group, w);
    OPCITEMRESULT* results = opc::ReadItemResults(r, 1);
    HRESULT* errors = opc::ReadErrors(r, 1);
    bool ok = results && r.I32() == S_OK;
    if (ok) handle_ = results[0].hServer;
    opc::FreeItemResults(results, 1);
    CoTaskMemFree(errors);
    return ok;
  }

  bool QuerySyncIo(const IPID& group) {
    NdrWriter w;
    WriteOrpcThis(w, OrpcThis{});
    w.Guid(group);
    w.U32(1);
    w.U16(1);
    w.Conformance(1);
    w.Guid(IID_IOPCSyncIO);
    NdrReader r = Call(IID_IRemUnknown, 3, remUnknown_, w);
    r.Pointer();
    r.Conformance(48);
    r.Align(8);
    bool ok = r.I32() == S_OK;
    io_ = ReadStdObjref(r).ipid;
    return ok && r.ok();
  }

  ClientConnection connection_;
  std::uint16_t contexts_[5] = {};
  CallResult answer_;
  IPID group_{};
  IPID io_{};
  IPID remUnknown_{};
  OPCHANDLE handle_ = 0;
};

// The item read over DCOM at packet integrity (5) or packet privacy (6).
void DcomRead(benchmark::State& state) {
  static DcomServed served;
  DcomSession session;
  if (!session.Open(served.server->port(), static_cast<AuthLevel>(state.range(0)))) {
    state.SkipWithError("cannot open the DCOM session");
    return;
  }
  for (auto _ : state)
    if (!session.Read()) {
      state.SkipWithError("Read failed");
      break;
    }
}
BENCHMARK(DcomRead)->Arg(5)->Arg(6)->UseRealTime();

// The same read over the TLS face.
void TlsRead(benchmark::State& state) {
  static rpc::ServerThread thread([](const CLSID& clsid, IUnknown** object) -> HRESULT {
    if (clsid != server::CLSID_TagwellSimulation) return REGDB_E_CLASSNOTREG;
    return Simulation().create(object);
  });
  static std::shared_ptr<rpc::TlsIdentity> client;
  static std::uint16_t port = [] {
    std::string error;
    auto identity = rpc::TlsIdentity::LoadOrCreate(Folder().File("server.pem"), &error);
    client = rpc::TlsIdentity::LoadOrCreate(Folder().File("client.pem"), &error);
    rpc::TlsAdmissionOptions options;
    options.allowAnyClient = true;
    options.who = "bench server";
    return thread.ListenTls("127.0.0.1", identity, options);
  }();
  auto address = rpc::ResolveTcp("127.0.0.1", port, 5s);
  int fd = address.empty() ? -1 : ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ComPtr<IOPCServer> opcServer;
  std::string fingerprint;
  if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address[0].storage),
                           address[0].length) == 0) {
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    rpc::CreateObjectOverTls(fd, client, server::CLSID_TagwellSimulation, IID_IOPCServer,
                             opcServer.ReceiveVoid(), &fingerprint);
  }
  OPCHANDLE groupHandle = 0;
  DWORD rate = 0;
  ComPtr<IOPCItemMgt> group;
  if (opcServer)
    opcServer->AddGroup(u"Bench", FALSE, 1000, 0, nullptr, nullptr, 0, &groupHandle, &rate,
                        IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(group.Receive()));
  OPCITEMDEF def{nullptr, const_cast<LPWSTR>(u"Boiler.Setpoint"), TRUE, 1, 0, nullptr, 0, 0};
  OPCITEMRESULT* results = nullptr;
  HRESULT* errors = nullptr;
  if (!group || group->AddItems(1, &def, &results, &errors) != S_OK) {
    state.SkipWithError("cannot open the TLS session");
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
    opc::FreeItemStates(states, 1);
    CoTaskMemFree(errors);
  }
}
BENCHMARK(TlsRead)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
