// The simulation server under the client's address-space walk: the walk
// lists devices, then names from flat listings that it tries to enter. These
// tests replay that call sequence against the server and check that every
// item of the plant ends up choosable and only devices are taken as groups.
#include <gmock/gmock.h>

#include <algorithm>

#include "server/AddressSpaceXml.h"
#include "server/Simulation.h"
#include "tests/server/ConformanceHelpers.h"
#include "tests/support/TestServer.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace tagwell::testing {
namespace {

struct WalkResult {
  Names items;   // what the Add Item dialog offers
  Names groups;  // names it refuses
};

// The client's walk, in its order of calls and with its use of the results.
WalkResult Walk(com::IOPCBrowseServerAddressSpace* b) {
  WalkResult r;
  Listing all = Browse(b, com::OPC_FLAT);
  if (all.hr != com::S_OK) return r;
  r.items = all.names;
  Names leaves = Browse(b, com::OPC_LEAF).names;
  std::copy(leaves.begin(), leaves.end(), r.items.begin());
  std::size_t write = leaves.size();
  auto store = [&](const std::string& name) {
    if (write < r.items.size())
      r.items[write] = name;
    else
      r.items.push_back(name);
    ++write;
  };
  Listing devices = Browse(b, com::OPC_BRANCH);
  if (devices.hr != com::S_OK) return r;
  Names compare;
  bool groupFound = false;
  for (const std::string& device : devices.names) {
    store(device);
    r.groups.push_back(device);
    if (MoveTo(b, com::OPC_BROWSE_TO, device) != com::S_OK) continue;
    for (const std::string& leaf : Browse(b, com::OPC_LEAF).names) {
      store(ItemId(b, leaf).second);
      compare.push_back(r.items[write - 1]);
    }
    for (const std::string& name : Browse(b, com::OPC_FLAT).names) {
      if (groupFound) {
        store(name);
        r.groups.push_back(name);
      } else if (std::find(compare.begin(), compare.end(), name) == compare.end()) {
        store(name);
      }
      if (MoveTo(b, com::OPC_BROWSE_TO, name) == com::S_OK) {
        for (const std::string& leaf : Browse(b, com::OPC_LEAF).names) {
          groupFound = true;
          store(ItemId(b, leaf).second);
        }
      }
      if (groupFound) r.groups.push_back(name);
      MoveTo(b, com::OPC_BROWSE_UP, name);
    }
    MoveTo(b, com::OPC_BROWSE_UP, device);
  }
  r.items.resize(write);
  return r;
}

Names Choosable(const WalkResult& walk) {
  Names out;
  for (const std::string& name : walk.items)
    if (std::find(walk.groups.begin(), walk.groups.end(), name) == walk.groups.end() &&
        std::find(out.begin(), out.end(), name) == out.end())
      out.push_back(name);
  std::sort(out.begin(), out.end());
  return out;
}

Names AllIds(const server::AddressSpace& space) {
  Names ids;
  for (const auto& item : space.Items()) ids.push_back(item->id);
  std::sort(ids.begin(), ids.end());
  return ids;
}

WalkResult WalkServer(std::shared_ptr<server::AddressSpace> space,
                      std::shared_ptr<FaultScript> script) {
  com::ComPtr<com::IOPCBrowseServerAddressSpace> browse;
  EXPECT_EQ(CreateTestServer(std::move(space), std::move(script),
                             com::IID_IOPCBrowseServerAddressSpace, browse.ReceiveVoid()),
            com::S_OK);
  return Walk(browse.Get());
}

TEST(ClientWalk, EveryItemOfTheHierarchicalPlantIsChoosableAndOnlyDevicesAreGroups) {
  auto space = server::MakeDefaultAddressSpace();
  WalkResult walk = WalkServer(space, std::make_shared<FaultScript>());
  EXPECT_THAT(walk.groups, ElementsAre("Boiler", "Line1", "Diagnostics"));
  EXPECT_EQ(Choosable(walk), AllIds(*space));
  EXPECT_EQ(walk.items.front(), "OPC.ConnectionMonitor");
}

TEST(ClientWalk, AFlatPlantListsEveryItemOnceAndNoDevices) {
  server::AddressSpaceOptions flat;
  flat.flat = true;
  auto space = server::MakeDefaultAddressSpace(nullptr, flat);
  WalkResult walk = WalkServer(space, std::make_shared<FaultScript>());
  EXPECT_THAT(walk.groups, IsEmpty());
  EXPECT_EQ(walk.items.size(), space->Items().size());
  EXPECT_EQ(Choosable(walk), AllIds(*space));
}

TEST(ClientWalk, ADeviceThatCannotBeEnteredIsListedWithNothingBelowIt) {
  auto space = server::MakeDefaultAddressSpace();
  auto script = std::make_shared<FaultScript>();
  script->Set(Fault::DeviceCannotBeEntered);
  script->SetTargetDevice("Line1");
  WalkResult walk = WalkServer(space, script);
  EXPECT_THAT(walk.groups, ElementsAre("Boiler", "Line1", "Diagnostics"));
  const Names choosable = Choosable(walk);
  EXPECT_TRUE(std::none_of(choosable.begin(), choosable.end(),
                           [](const std::string& id) { return id.rfind("Line1.", 0) == 0; }));
  EXPECT_TRUE(std::count(choosable.begin(), choosable.end(), "Diagnostics.Heartbeat"));
}

TEST(ClientWalk, FlatListingsWithBranchesTurnTheWalkToGroupNames) {
  auto space = server::MakeDefaultAddressSpace();
  auto script = std::make_shared<FaultScript>();
  script->Set(Fault::FlatListsBranches);
  WalkResult walk = WalkServer(space, script);
  // The first group found inside a device becomes a group name, and so does
  // every flat name after it.
  ASSERT_GE(walk.groups.size(), 3u);
  EXPECT_EQ(walk.groups[1], "Boiler.Feedwater");
  EXPECT_TRUE(std::count(walk.groups.begin(), walk.groups.end(), "Line1.Station1"));
}

}  // namespace
}  // namespace tagwell::testing
