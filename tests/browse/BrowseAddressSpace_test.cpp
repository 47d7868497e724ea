// The address-space walk against a scripted browse interface: a tree of
// branches and leaves whose listings, moves and faults the test sets.

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "browse/Browse.h"
#include "platform/com/Com.h"
#include "platform/opcda/BrowseBranches.h"
#include "server/AddressSpaceXml.h"
#include "server/Simulation.h"
#include "tests/support/FakeUi.h"
#include "tests/support/TempDir.h"

namespace tagwell {
namespace {

using testing::FakeClient;
using testing::TempDir;
using Names = std::vector<std::string>;

class StringList final : public com::IEnumString {
 public:
  explicit StringList(Names names, HRESULT endResult)
      : names_(std::move(names)), endResult_(endResult) {}
  HRESULT QueryInterface(com::REFIID iid, void** ppv) override {
    if (iid != com::IID_IUnknown && iid != com::IID_IEnumString) return com::E_NOINTERFACE;
    AddRef();
    *ppv = static_cast<com::IEnumString*>(this);
    return com::S_OK;
  }
  com::ULONG AddRef() override { return refs_.Increment(); }
  com::ULONG Release() override {
    com::ULONG n = refs_.Decrement();
    if (n == 0) delete this;
    return n;
  }
  // Up to count names; a listing that ends with a failure gives its last
  // names with S_OK and the failure at the next call, as a server that
  // drops between two calls.
  HRESULT Next(com::ULONG count, com::LPOLESTR* out, com::ULONG* fetched) override {
    if (next_ >= names_.size()) return endResult_;
    com::ULONG n = 0;
    for (; n < count && next_ < names_.size(); ++n)
      out[n] = com::CoTaskMemStrDup(com::Utf8ToUtf16(names_[next_++]).c_str());
    if (fetched) *fetched = n;
    return n == count || com::FAILED(endResult_) ? com::S_OK : endResult_;
  }
  HRESULT Skip(com::ULONG) override { return com::E_NOTIMPL; }
  HRESULT Reset() override { return com::E_NOTIMPL; }
  HRESULT Clone(com::IEnumString**) override { return com::E_NOTIMPL; }

 private:
  com::RefCount refs_;
  Names names_;
  std::size_t next_ = 0;
  HRESULT endResult_;
};

// Branches by path ("" is the root; "A.B" below "A"), each with its leaf
// names and sub-branch names in order. OPC_FLAT lists, in tree order, the
// full IDs of the leaves at and below the position and, when
// flatListsBranches, the full paths of the branches. OPC_BROWSE_TO takes a
// child branch name or a full path.
class ScriptedBrowser final : public com::IOPCBrowseServerAddressSpace {
 public:
  struct Branch {
    Names leaves;
    Names branches;
  };
  std::map<std::string, Branch> tree{{"", {}}};
  bool flatListsBranches = true;
  std::set<std::string> cannotEnter;
  std::set<std::string> noItemId;
  HRESULT endResult = com::S_FALSE;  // what Next gives after the last name
  int calls = 0;

  // Answers ITagwellBrowseBranches too (with its own browse calls), as
  // tagwell-server's proxies do.
  bool describes = false;

  HRESULT QueryInterface(com::REFIID iid, void** out) override {
    if (!describes || iid != com::IID_ITagwellBrowseBranches) return com::E_NOINTERFACE;
    *out = static_cast<com::ITagwellBrowseBranches*>(&describer_);
    return com::S_OK;
  }
  com::ULONG AddRef() override { return 1; }
  com::ULONG Release() override { return 1; }
  HRESULT QueryOrganization(com::OPCNAMESPACETYPE*) override { return com::E_NOTIMPL; }
  HRESULT BrowseAccessPaths(com::LPCWSTR, com::LPENUMSTRING*) override { return com::E_NOTIMPL; }

  HRESULT ChangeBrowsePosition(com::OPCBROWSEDIRECTION direction, com::LPCWSTR name) override {
    ++calls;
    if (direction == com::OPC_BROWSE_UP) {
      if (position_.empty()) return com::E_FAIL;
      auto dot = position_.rfind('.');
      position_ = dot == std::string::npos ? "" : position_.substr(0, dot);
      return com::S_OK;
    }
    const std::string text = com::Utf16ToUtf8(com::WideView(name));
    for (const std::string& path : {Join(position_, text), text}) {
      if (tree.count(path) && !cannotEnter.count(path)) {
        position_ = path;
        return com::S_OK;
      }
    }
    return com::E_INVALIDARG;
  }

  HRESULT BrowseOPCItemIDs(com::OPCBROWSETYPE type, com::LPCWSTR, com::VARTYPE, com::DWORD,
                           com::LPENUMSTRING* out) override {
    ++calls;
    Names names;
    const Branch& here = tree.at(position_);
    if (type == com::OPC_LEAF) names = here.leaves;
    if (type == com::OPC_BRANCH) names = here.branches;
    if (type == com::OPC_FLAT) Flat(position_, &names);
    *out = new StringList(names, endResult);
    return names.empty() ? com::S_FALSE : com::S_OK;
  }

  HRESULT GetItemID(com::LPWSTR leaf, com::LPWSTR* id) override {
    ++calls;
    const std::string full = Join(position_, com::Utf16ToUtf8(com::WideView(leaf)));
    if (noItemId.count(full)) return com::E_FAIL;
    *id = com::CoTaskMemStrDup(com::Utf8ToUtf16(full).c_str());
    return com::S_OK;
  }

 private:
  static std::string Join(const std::string& path, const std::string& name) {
    return path.empty() ? name : path + "." + name;
  }
  void Flat(const std::string& path, Names* out) const {
    const Branch& b = tree.at(path);
    for (const auto& leaf : b.leaves) out->push_back(Join(path, leaf));
    for (const auto& sub : b.branches) {
      if (flatListsBranches) out->push_back(Join(path, sub));
      Flat(Join(path, sub), out);
    }
  }
  struct Describer final : com::ITagwellBrowseBranches {
    explicit Describer(ScriptedBrowser& b) : browser(b) {}
    HRESULT QueryInterface(com::REFIID, void**) override { return com::E_NOINTERFACE; }
    com::ULONG AddRef() override { return 1; }
    com::ULONG Release() override { return 1; }
    HRESULT DescribeBranches(const std::vector<std::u16string>& names, com::ULONG leafLimit,
                             std::vector<com::BranchContents>* contents) override {
      com::DescribeBranchesAt(browser, names, leafLimit, contents);
      return com::S_OK;
    }
    ScriptedBrowser& browser;
  };
  std::string position_;
  Describer describer_{*this};
};

// Each walk runs twice: the walk's own calls name by name, and a server
// that describes a hundred names per call; both give the same lists.
class BrowseTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    client.state.ptrIOPCBrowseServerAddressSpace = &browser;
    browser.describes = GetParam();
    baseline = com::TaskMemOutstanding();
  }
  void TearDown() override {
    client.state.ptrIOPCBrowseServerAddressSpace = nullptr;
    EXPECT_EQ(com::TaskMemOutstanding(), baseline) << "a server string was not freed";
  }
  void Add(const std::string& path, Names leaves, Names branches = {}) {
    browser.tree[path] = {std::move(leaves), std::move(branches)};
  }
  Names ItemNames() const {
    const BrowseLists& b = client.browse;
    return Names(b.browseItemNames.begin(), b.browseItemNames.begin() + b.browseItemCount);
  }
  Names GroupNames() const {
    const BrowseLists& b = client.browse;
    return Names(b.browseGroupNames.begin(), b.browseGroupNames.begin() + b.browseGroupCount);
  }
  Names Info() const { return fake.window.serverInfo.Lines(); }

  TempDir dir;
  FakeClient fake{dir.path()};
  Client& client = fake.client;
  ScriptedBrowser browser;
  std::size_t baseline = 0;
};

TEST_P(BrowseTest, FlatSpaceListsEveryItemAndNoDevices) {
  browser.tree[""] = {{"Mon", "Tank.Level", "Tank.Temp"}, {}};
  BrowseAddressSpace(client);
  EXPECT_EQ(ItemNames(), (Names{"Mon", "Tank.Level", "Tank.Temp"}));
  EXPECT_TRUE(GroupNames().empty());
  EXPECT_TRUE(Info().empty());
}

TEST_P(BrowseTest, EmptyServerChangesNothing) {
  client.browse.browseItemNames = {"kept"};
  client.browse.browseItemCount = 1;
  fake.window.serverInfo.AddString("Vendor information = ");
  BrowseAddressSpace(client);
  EXPECT_EQ(ItemNames(), (Names{"kept"}));
  EXPECT_EQ(Info(), (Names{"Vendor information = "}));
}

// The first name inside which leaves are found becomes a group name, and so
// does every later name of a flat listing, also of the next device.
TEST_P(BrowseTest, HierarchicalSpaceSwitchesToGroupNames) {
  Add("", {"Mon"}, {"D1", "D2"});
  Add("D1", {"a"}, {"G1"});
  Add("D1.G1", {"x"});
  Add("D2", {}, {"G2"});
  Add("D2.G2", {"y"});
  BrowseAddressSpace(client);
  EXPECT_EQ(ItemNames(), (Names{"Mon", "D1", "D1.a", "D1.G1", "D1.G1.x", "D1.G1.x", "D2", "D2.G2",
                                "D2.G2.y", "D2.G2.y"}));
  EXPECT_EQ(GroupNames(), (Names{"D1", "D1.G1", "D1.G1.x", "D1.G1.x", "D2", "D2.G2", "D2.G2",
                                 "D2.G2.y", "D2.G2.y"}));
  EXPECT_EQ(Info(), (Names{"", "Devices (or Groups) available on server: ", "", "D1", "D2"}));
}

TEST_P(BrowseTest, DeviceThatCannotBeEnteredIsListedWithNothingBelow) {
  Add("", {}, {"D1", "D2"});
  Add("D1", {"a"});
  Add("D2", {"b"});
  browser.cannotEnter = {"D1"};
  BrowseAddressSpace(client);
  EXPECT_EQ(ItemNames(), (Names{"D1", "D2", "D2.b"}));
  EXPECT_EQ(GroupNames(), (Names{"D1", "D2"}));
  EXPECT_EQ(Info().back(), "D2");
}

TEST_P(BrowseTest, LeafWithoutItemIdIsLeftOut) {
  Add("", {}, {"D1"});
  Add("D1", {"a", "b"});
  browser.noItemId = {"D1.a"};
  BrowseAddressSpace(client);
  // The flat listing still offers it under its full ID.
  EXPECT_EQ(ItemNames(), (Names{"D1", "D1.b", "D1.a"}));
}

TEST_P(BrowseTest, SecondWalkRewritesItemsAndAppendsGroups) {
  Add("", {"Mon"}, {"D1"});
  Add("D1", {"a"});
  BrowseAddressSpace(client);
  BrowseAddressSpace(client);
  EXPECT_EQ(ItemNames(), (Names{"Mon", "D1", "D1.a"}));
  EXPECT_EQ(GroupNames(), (Names{"D1", "D1"}));
}

TEST_P(BrowseTest, CapacitiesAndLongNamesAreLimits) {
  Names devices, leaves;
  for (int i = 0; i < BrowseLists::kGroupCapacity + 10; ++i)
    devices.push_back("D" + std::to_string(i));
  for (int i = 0; i < BrowseLists::kItemCapacity; ++i) leaves.push_back("L" + std::to_string(i));
  // 258 ASCII bytes and a two-byte character: the cut keeps the character whole.
  const std::string longName = std::string(258, 'n') + "\xC3\xA9" + "tail";
  leaves.insert(leaves.begin(), longName);
  Add("", leaves, devices);
  for (const auto& d : devices) Add(d, {});
  BrowseAddressSpace(client);
  EXPECT_EQ(client.browse.browseItemCount, BrowseLists::kItemCapacity);
  EXPECT_EQ(client.browse.browseGroupCount, BrowseLists::kGroupCapacity);
  EXPECT_EQ(client.browse.browseItemNames[0], std::string(258, 'n'));
  EXPECT_EQ(static_cast<int>(Info().size()), 3 + BrowseLists::kGroupCapacity + 10);
}

TEST_P(BrowseTest, LostServerEndsTheWalk) {
  Add("", {"Mon"}, {"D1", "D2"});
  Add("D1", {"a"});
  Add("D2", {"b"});
  browser.endResult = com::RPC_E_DISCONNECTED;
  BrowseAddressSpace(client);
  // The whole-space listing ended with the loss: nothing more is asked.
  EXPECT_EQ(browser.calls, 1);
  EXPECT_EQ(client.browse.browseItemCount, 5);
  EXPECT_TRUE(Info().empty());
}

TEST_P(BrowseTest, NoBrowseInterfaceNoWalk) {
  client.state.ptrIOPCBrowseServerAddressSpace = nullptr;
  BrowseAddressSpace(client);
  EXPECT_EQ(client.browse.browseItemCount, 0);
  EXPECT_EQ(browser.calls, 0);
}

INSTANTIATE_TEST_SUITE_P(NameByNameAndDescribed, BrowseTest, ::testing::Bool());

// The walk over the simulation server's plant: every item can be chosen,
// and the devices are the only group names.
TEST(BrowseSimulation, EveryPlantItemIsOfferedAndDevicesAreGroups) {
  auto space = server::MakeDefaultAddressSpace();
  TempDir dir;
  FakeClient fake(dir.path());
  Client& client = fake.client;
  com::ComPtr<com::IOPCBrowseServerAddressSpace> browser;
  ASSERT_EQ(server::CreateSimulationServer(space, com::IID_IOPCBrowseServerAddressSpace,
                                           browser.ReceiveVoid()),
            com::S_OK);
  const std::size_t baseline = com::TaskMemOutstanding();
  client.state.ptrIOPCBrowseServerAddressSpace = browser.Get();
  BrowseAddressSpace(client);
  client.state.ptrIOPCBrowseServerAddressSpace = nullptr;
  EXPECT_EQ(com::TaskMemOutstanding(), baseline);

  const BrowseLists& b = client.browse;
  const std::set<std::string> offered(b.browseItemNames.begin(),
                                      b.browseItemNames.begin() + b.browseItemCount);
  for (const auto& item : space->Items()) EXPECT_TRUE(offered.count(item->id)) << item->id;
  EXPECT_EQ(Names(b.browseGroupNames.begin(), b.browseGroupNames.begin() + b.browseGroupCount),
            (Names{"Boiler", "Line1", "Diagnostics"}));
  EXPECT_EQ(fake.window.serverInfo.Lines(), (Names{"", "Devices (or Groups) available on server: ",
                                                   "", "Boiler", "Line1", "Diagnostics"}));
}
}  // namespace
}  // namespace tagwell
