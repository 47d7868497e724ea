// The DCOM runtime fed stub data as the transport hands it over: a whole
// session on the simulation class (activation, IRemUnknown, the OPC calls,
// release, and collection after the pings stop), then every request of that
// session cut short and damaged.
#include "dcom/Runtime.h"

#include <gtest/gtest.h>

#include "dcom/Activation.h"
#include "dcom/Iids.h"
#include "dcom/NdrOaut.h"
#include "dcom/opc/OpcNdr.h"
#include "server/AddressSpaceXml.h"
#include "server/Simulation.h"

namespace tagwell::dcom {
namespace {

using namespace com;
using namespace std::chrono_literals;

struct Recorded {
  IID iid;
  std::uint16_t opnum;
  bool hasObject;
  IPID object;
  std::vector<std::uint8_t> stub;
};

class RuntimeSession : public ::testing::Test {
 protected:
  RuntimeSession() {
    RuntimeOptions options;
    options.bindings.tcp = {u"127.0.0.1[4135]"};
    options.bindings.security = {{kAuthnWinNt, u""}};
    options.clock = [this] { return now_; };
    auto space = server::MakeDefaultAddressSpace();
    ServedClass simulation{server::CLSID_TagwellSimulation, server::kSimulationProgId,
                           "Tagwell simulation", [space](IUnknown** object) {
                             return server::CreateSimulationServer(
                                 space, IID_IUnknown, reinterpret_cast<void**>(object));
                           }};
    runtime_ = std::make_unique<Runtime>(options, std::vector<ServedClass>{simulation});
    caller_.level = AuthLevel::PacketIntegrity;
    caller_.readOnly = false;
  }

  Response Call(const IID& iid, std::uint16_t opnum, const IPID* object,
                std::vector<std::uint8_t> stub) {
    recorded_.push_back({iid, opnum, object != nullptr, object ? *object : GUID_NULL, stub});
    Request request{caller_, {iid, 0, 0}, opnum, object != nullptr, object ? *object : GUID_NULL,
                    stub};
    return runtime_->Call(request);
  }

  // An ORPC call on an IPID: the answer after its ORPCTHAT.
  std::vector<std::uint8_t> Orpc(const IID& iid, std::uint16_t opnum, const IPID& ipid,
                                 const std::function<void(NdrWriter&)>& args) {
    NdrWriter w;
    WriteOrpcThis(w, OrpcThis{});
    args(w);
    Response r = Call(iid, opnum, &ipid, w.Take());
    EXPECT_EQ(r.fault, 0u) << "opnum " << opnum;
    return r.stub;
  }

  // Activation at the caller's level: the IPID of iid, or the fault.
  std::uint32_t Activate(const IID& iid, IPID* ipid, OID* oid = nullptr) {
    NdrWriter w;
    WriteOrpcThis(w, OrpcThis{});
    w.Pointer(false);
    w.Pointer(true);
    ActivationRequest wanted{server::CLSID_TagwellSimulation, {iid}, 0x10};
    WriteInterfacePointer(
        w, MakeCustomObjref(IID_IActivationPropertiesIn, CLSID_ActivationPropertiesIn,
                            WriteActivationRequest(wanted)));
    Response r = Call(IID_IRemoteSCMActivator, 4, nullptr, w.Take());
    if (r.fault) return r.fault;
    NdrReader in(r.stub);
    ReadOrpcThat(in);
    EXPECT_NE(in.Pointer(), 0u);
    auto objref = ParseObjref(ReadInterfacePointer(in));
    EXPECT_EQ(in.I32(), S_OK);
    auto reply = ReadActivationReply(objref->data);
    EXPECT_TRUE(reply && reply->results.at(0) == S_OK);
    EXPECT_EQ(reply->remUnknown, runtime_->exporter().remUnknownIpid());
    EXPECT_EQ(reply->bindings.tcp.at(0), u"127.0.0.1[4135]");
    auto std = ParseObjref(reply->objrefs.at(0))->std;
    *ipid = std.ipid;
    if (oid) *oid = std.oid;
    return 0;
  }

  IPID QueryInterface(const IPID& ipid, const IID& iid) {
    auto answer =
        Orpc(IID_IRemUnknown2, 3, runtime_->exporter().remUnknownIpid(), [&](NdrWriter& w) {
          w.Guid(ipid);
          w.U32(1);
          w.U16(1);
          w.Conformance(1);
          w.Guid(iid);
        });
    NdrReader in(answer);
    ReadOrpcThat(in);
    in.Pointer();
    in.Conformance(48);
    in.Align(8);
    EXPECT_EQ(in.I32(), S_OK);
    return ReadStdObjref(in).ipid;
  }

  void Release(const IPID& ipid) {
    Orpc(IID_IRemUnknown, 5, runtime_->exporter().remUnknownIpid(), [&](NdrWriter& w) {
      w.U16(1);
      w.Conformance(1);
      w.Guid(ipid);
      w.U32(1);
      w.U32(0);
    });
  }

  // IOPCSyncIO::Read of one handle from the device: the value and quality.
  std::pair<double, WORD> Read(const IPID& io, OPCHANDLE handle) {
    auto answer = Orpc(IID_IOPCSyncIO, 3, io, [&](NdrWriter& w) {
      w.U16(OPC_DS_DEVICE);
      w.U32(1);
      w.Array<std::uint32_t>(std::vector<std::uint32_t>{handle});
    });
    NdrReader in(answer);
    ReadOrpcThat(in);
    OPCITEMSTATE* states = opc::ReadItemStates(in, 1);
    HRESULT* errors = opc::ReadErrors(in, 1);
    EXPECT_EQ(in.I32(), S_OK);
    EXPECT_TRUE(states && errors && errors[0] == S_OK);
    auto result = std::make_pair(states ? states[0].vDataValue.dblVal : -1,
                                 states ? states[0].wQuality : WORD(0));
    opc::FreeItemStates(states, 1);
    CoTaskMemFree(errors);
    return result;
  }

  HRESULT Write(const IPID& io, OPCHANDLE handle, double value) {
    auto answer = Orpc(IID_IOPCSyncIO, 4, io, [&](NdrWriter& w) {
      w.U32(1);
      w.Array<std::uint32_t>(std::vector<std::uint32_t>{handle});
      VARIANT v;
      VariantInit(&v);
      v.vt = VT_R8;
      v.dblVal = value;
      w.Conformance(1);
      w.Pointer(true);
      WriteVariantBody(w, v);
    });
    NdrReader in(answer);
    ReadOrpcThat(in);
    HRESULT* errors = opc::ReadErrors(in, 1);
    in.I32();
    HRESULT hr = errors ? errors[0] : E_FAIL;
    CoTaskMemFree(errors);
    return hr;
  }

  std::chrono::steady_clock::time_point now_{std::chrono::hours(1)};
  Caller caller_;
  std::unique_ptr<Runtime> runtime_;
  std::vector<Recorded> recorded_;
};

TEST_F(RuntimeSession, ServesTheSimulationFromActivationToCollection) {
  IPID server{};
  OID oid = 0;
  caller_.level = AuthLevel::Connect;
  EXPECT_EQ(Activate(IID_IOPCServer, &server), kFaultAccessDenied);
  caller_.level = AuthLevel::PacketIntegrity;
  ASSERT_EQ(Activate(IID_IOPCServer, &server, &oid), 0u);

  auto status = Orpc(IID_IOPCServer, 6, server, [](NdrWriter&) {});
  NdrReader statusIn(status);
  ReadOrpcThat(statusIn);
  OPCSERVERSTATUS* s = opc::ReadServerStatus(statusIn);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(std::u16string(s->szVendorInfo), u"Tagwell Simulation Server 8.4");
  EXPECT_EQ(s->dwServerState, OPC_STATUS_RUNNING);
  opc::FreeServerStatus(s);

  auto added = Orpc(IID_IOPCServer, 3, server, [](NdrWriter& w) {
    w.WideString(u"Group");
    w.I32(0);
    w.U32(100);
    w.U32(0);
    w.Pointer(false);
    w.Pointer(false);
    w.U32(0);
    w.Guid(IID_IOPCItemMgt);
  });
  NdrReader addedIn(added);
  ReadOrpcThat(addedIn);
  addedIn.U32();
  addedIn.U32();
  ASSERT_NE(addedIn.Pointer(), 0u);
  IPID items = ParseObjref(ReadInterfacePointer(addedIn))->std.ipid;
  ASSERT_EQ(addedIn.I32(), S_OK);

  OPCITEMDEF defs[2] = {
      {nullptr, const_cast<LPWSTR>(u"Boiler.Setpoint"), 1, 1, 0, nullptr, VT_EMPTY, 0},
      {nullptr, const_cast<LPWSTR>(u"No.Such.Item"), 1, 2, 0, nullptr, VT_EMPTY, 0}};
  auto result = Orpc(IID_IOPCItemMgt, 3, items, [&](NdrWriter& w) {
    w.U32(2);
    opc::WriteItemDefs(w, defs, 2);
  });
  NdrReader resultIn(result);
  ReadOrpcThat(resultIn);
  OPCITEMRESULT* results = opc::ReadItemResults(resultIn, 2);
  HRESULT* errors = opc::ReadErrors(resultIn, 2);
  ASSERT_TRUE(results && errors);
  EXPECT_EQ(resultIn.I32(), S_FALSE);
  EXPECT_EQ(errors[0], S_OK);
  EXPECT_EQ(errors[1], OPC_E_UNKNOWNITEMID);
  EXPECT_EQ(results[0].vtCanonicalDataType, VT_R8);
  OPCHANDLE setpoint = results[0].hServer;
  opc::FreeItemResults(results, 2);
  CoTaskMemFree(errors);

  IPID io = QueryInterface(items, IID_IOPCSyncIO);
  EXPECT_EQ(Read(io, setpoint), std::make_pair(55.0, WORD(OPC_QUALITY_GOOD)));
  caller_.readOnly = true;
  EXPECT_EQ(Write(io, setpoint, 61.5), OPC_E_BADRIGHTS);
  EXPECT_EQ(Read(io, setpoint).first, 55.0);
  caller_.readOnly = false;
  EXPECT_EQ(Write(io, setpoint, 61.5), S_OK);
  EXPECT_EQ(Read(io, setpoint).first, 61.5);

  // Released interface by interface, the group goes with its last one.
  caller_.level = AuthLevel::Connect;
  EXPECT_EQ(Call(IID_IOPCSyncIO, 3, &io, {}).fault, kFaultAccessDenied);
  caller_.level = AuthLevel::PacketIntegrity;
  EXPECT_EQ(runtime_->exporter().ObjectCount(), 2u);
  Release(io);
  Release(items);
  EXPECT_EQ(runtime_->exporter().ObjectCount(), 1u);
  EXPECT_EQ(Call(IID_IOPCSyncIO, 3, &io, {}).fault, kFaultDisconnected);

  // The server object lives while a set pings it, and dies three periods
  // after the last ping.
  NdrWriter ping;
  ping.U64(0);  // a new set
  ping.U16(0);
  ping.U16(1);
  ping.U16(0);
  ping.Pointer(true);
  ping.Array<std::uint64_t>(std::vector<std::uint64_t>{oid});
  ping.Pointer(false);
  Response pinged = Call(IID_IObjectExporter, 2, nullptr, ping.Take());
  NdrReader pingIn(pinged.stub);
  SETID set = pingIn.U64();
  pingIn.U16();
  EXPECT_EQ(pingIn.U32(), 0u);
  for (int period = 0; period < 5; ++period) {
    now_ += 120s;
    NdrWriter simple;
    simple.U64(set);
    EXPECT_EQ(NdrReader(Call(IID_IObjectExporter, 1, nullptr, simple.Take()).stub).U32(), 0u);
    runtime_->Collect();
  }
  EXPECT_EQ(runtime_->exporter().ObjectCount(), 1u);
  now_ += 359s;
  runtime_->Collect();
  EXPECT_EQ(runtime_->exporter().ObjectCount(), 1u);
  now_ += 2s;
  runtime_->Collect();
  EXPECT_EQ(runtime_->exporter().ObjectCount(), 0u);
  EXPECT_EQ(Call(IID_IOPCServer, 6, &server, {}).fault, kFaultDisconnected);
}

// Every request of a whole session cut at every length, and with each
// byte flipped in turn: each answer is a fault or a well-formed reply, and
// nothing is read out of bounds (the sanitizer build checks).
TEST_F(RuntimeSession, DamagedRequestsGetFaultsNotCrashes) {
  IPID server{};
  ASSERT_EQ(Activate(IID_IOPCServer, &server), 0u);
  Orpc(IID_IOPCServer, 6, server, [](NdrWriter&) {});
  auto session = recorded_;
  std::size_t faults = 0;
  for (const Recorded& r : session) {
    for (std::size_t cut = 0; cut < r.stub.size(); ++cut) {
      std::vector<std::uint8_t> shorter(r.stub.begin(), r.stub.begin() + cut);
      faults += Call(r.iid, r.opnum, r.hasObject ? &r.object : nullptr, shorter).fault != 0;
    }
    for (std::size_t at = 0; at < r.stub.size(); ++at) {
      auto damaged = r.stub;
      damaged[at] ^= 0xFF;
      Call(r.iid, r.opnum, r.hasObject ? &r.object : nullptr, damaged);
    }
  }
  EXPECT_GT(faults, 0u);
}

}  // namespace
}  // namespace tagwell::dcom
