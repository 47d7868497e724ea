// Modbus device speed, against pymodbus on loopback:
//   DeviceRead     one device read (IOPCSyncIO::Read, OPC_DS_DEVICE, in
//                  process) of 100 holding registers in 4 blocks of 25
//   BareLibmodbus  the 4 bare libmodbus requests for the same blocks: the
//                  floor. DeviceRead / BareLibmodbus is the driver's cost;
//                  the goal is <= 1.5.
//   ReadCycle/0    a device read of those 100 items, one device configured
//   ReadCycle/1    the same with a second device that never answers in
//                  time polled beside it: the goal is no difference.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "platform/com/Memory.h"
#include "platform/com/Text.h"
#include "server/AddressSpaceXml.h"
#include "server/Simulation.h"
#include "tests/e2e/ModbusPeer.h"

// Last: libmodbus defines TRUE and FALSE as macros, which the COM names are.
#include <modbus/modbus.h>
#undef TRUE
#undef FALSE

namespace tagwell {
namespace {

using namespace com;

constexpr unsigned kBlocks = 4;
constexpr unsigned kPerBlock = 25;
constexpr unsigned kBlockStep = 40;  // gaps between the blocks keep them apart

testing::ModbusPeer& Peer() {
  static auto* peer = new testing::ModbusPeer();
  return *peer;
}

// A device that answers each request 10 s late: dead for a 200 ms timeout.
testing::ModbusPeer& DeadPeer() {
  static auto* peer = [] {
    auto* p = new testing::ModbusPeer();
    p->Delay(10);
    return p;
  }();
  return *peer;
}

// The live device gets a generous timeout: a loaded machine must not make
// it look dead.
std::string DeviceXml(const char* name, std::uint16_t port, bool items) {
  std::string xml = std::string("<ModbusDevice name=\"") + name +
                    "\" host=\"127.0.0.1\" timeoutMs=\"" + (items ? "2000" : "200") +
                    "\" periodMs=\"1000\" port=\"" + std::to_string(port) + "\">";
  for (unsigned b = 0; b < kBlocks && items; ++b)
    for (unsigned i = 0; i < kPerBlock; ++i)
      xml += "<Item name=\"R" + std::to_string(b * kBlockStep + i) +
             "\" register=\"holdingRegister\" address=\"" + std::to_string(b * kBlockStep + i) +
             "\"/>";
  if (!items) xml += "<Item name=\"R0\" register=\"holdingRegister\" address=\"0\"/>";
  return xml + "</ModbusDevice>";
}

// A server object over a space with the 100 items, and a group holding them.
struct Reader {
  explicit Reader(bool withDeadDevice) {
    std::string xml = "<AddressSpace>" + DeviceXml("Plc", Peer().port(), true);
    if (withDeadDevice) xml += DeviceXml("Dead", DeadPeer().port(), false);
    auto file = server::ParseAddressSpaceXml(xml + "</AddressSpace>", "bench");
    space = server::AddressSpace::Create(std::move(*file.definition), nullptr, {}, nullptr);
    server::CreateSimulationServer(space, IID_IOPCServer, server.ReceiveVoid());
    OPCHANDLE groupHandle = 0;
    DWORD revised = 0;
    server->AddGroup(u"Bench", TRUE, 1000, 0, nullptr, nullptr, 0, &groupHandle, &revised,
                     IID_IOPCSyncIO, reinterpret_cast<LPUNKNOWN*>(io.Receive()));
    ComPtr<IOPCItemMgt> items;
    io.As(IID_IOPCItemMgt, &items);
    std::vector<std::u16string> ids;
    for (unsigned b = 0; b < kBlocks; ++b)
      for (unsigned i = 0; i < kPerBlock; ++i)
        ids.push_back(u"Plc.R" + Utf8ToUtf16(std::to_string(b * kBlockStep + i)));
    std::vector<OPCITEMDEF> defs(ids.size());
    for (std::size_t i = 0; i < ids.size(); ++i) {
      defs[i].szItemID = const_cast<LPWSTR>(ids[i].c_str());
      defs[i].bActive = TRUE;
    }
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    items->AddItems(static_cast<DWORD>(defs.size()), defs.data(), &results, &errors);
    for (std::size_t i = 0; i < defs.size(); ++i) handles.push_back(results[i].hServer);
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
  }

  bool Read() {
    OPCITEMSTATE* states = nullptr;
    HRESULT* errors = nullptr;
    HRESULT hr = io->Read(OPC_DS_DEVICE, static_cast<DWORD>(handles.size()), handles.data(),
                          &states, &errors);
    bool good = hr == S_OK;
    for (std::size_t i = 0; i < handles.size(); ++i) {
      good = good && states[i].wQuality == OPC_QUALITY_GOOD;
      VariantClear(&states[i].vDataValue);
    }
    CoTaskMemFree(states);
    CoTaskMemFree(errors);
    return good;
  }

  std::shared_ptr<server::AddressSpace> space;
  ComPtr<IOPCServer> server;
  ComPtr<IOPCSyncIO> io;
  std::vector<OPCHANDLE> handles;
};

void DeviceRead(benchmark::State& state) {
  Reader reader(false);
  for (auto _ : state)
    if (!reader.Read()) state.SkipWithError("a read was not good");
}
BENCHMARK(DeviceRead)->Unit(benchmark::kMillisecond)->MinTime(3.0);

void BareLibmodbus(benchmark::State& state) {
  modbus_t* context = modbus_new_tcp("127.0.0.1", Peer().port());
  if (!context || modbus_connect(context) != 0) {
    state.SkipWithError("no connection");
    return;
  }
  std::uint16_t words[kPerBlock];
  for (auto _ : state)
    for (unsigned b = 0; b < kBlocks; ++b)
      if (modbus_read_registers(context, static_cast<int>(b * kBlockStep), kPerBlock, words) !=
          static_cast<int>(kPerBlock))
        state.SkipWithError("a request failed");
  modbus_close(context);
  modbus_free(context);
}
BENCHMARK(BareLibmodbus)->Unit(benchmark::kMillisecond)->MinTime(3.0);

void ReadCycle(benchmark::State& state) {
  Reader reader(state.range(0) != 0);
  for (auto _ : state)
    if (!reader.Read()) state.SkipWithError("a read was not good");
}
BENCHMARK(ReadCycle)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(3.0);

}  // namespace
}  // namespace tagwell

BENCHMARK_MAIN();
