// Conformance: browsing the address space (see ServerConformance.h).
#include <gmock/gmock.h>

#include "platform/com/Text.h"
#include "tests/server/ConformanceHelpers.h"
#include "tests/server/ServerConformance.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace tagwell::testing;

namespace {
const Names kAllIds = {"OPC.ConnectionMonitor",
                       "Root2",
                       "DevA.Temp",
                       "DevA.Count",
                       "DevA.Name",
                       "DevA.G1.Flag",
                       "DevA.G1.Big",
                       "DevA.G2.Ramp",
                       "DevA.G2.Mode",
                       "DevB.Vector",
                       "DevB.Bytes",
                       "DevB.Cold"};
}

TEST_P(ServerConformance, ListingsAtTheRoot) {
  com::OPCNAMESPACETYPE organization{};
  EXPECT_EQ(browse_->QueryOrganization(&organization), com::S_OK);
  EXPECT_EQ(organization, com::OPC_NS_HIERARCHIAL);

  Listing branches = Browse(browse_.Get(), com::OPC_BRANCH);
  EXPECT_EQ(branches.hr, com::S_OK);
  EXPECT_THAT(branches.names, ElementsAre("DevA", "DevB"));
  // Root leaves first, so that a leaf listing overwrites the head of the flat one with the same
  // names.
  EXPECT_THAT(Browse(browse_.Get(), com::OPC_LEAF).names,
              ElementsAre("OPC.ConnectionMonitor", "Root2"));
  Listing flat = Browse(browse_.Get(), com::OPC_FLAT);
  EXPECT_EQ(flat.hr, com::S_OK);
  EXPECT_EQ(flat.names, kAllIds);
  EXPECT_EQ(Browse(browse_.Get(), static_cast<com::OPCBROWSETYPE>(9)).hr, com::E_INVALIDARG);
}

TEST_P(ServerConformance, ListingsFollowTheBrowsePosition) {
  ASSERT_EQ(MoveTo(browse_.Get(), com::OPC_BROWSE_TO, "DevA"), com::S_OK);
  EXPECT_THAT(Browse(browse_.Get(), com::OPC_LEAF).names, ElementsAre("Temp", "Count", "Name"));
  EXPECT_THAT(Browse(browse_.Get(), com::OPC_BRANCH).names, ElementsAre("G1", "G2"));
  EXPECT_THAT(Browse(browse_.Get(), com::OPC_FLAT).names,
              ElementsAre("DevA.Temp", "DevA.Count", "DevA.Name", "DevA.G1.Flag", "DevA.G1.Big",
                          "DevA.G2.Ramp", "DevA.G2.Mode"));
  EXPECT_EQ(ItemId(browse_.Get(), "Temp"), std::make_pair(com::S_OK, std::string("DevA.Temp")));

  ASSERT_EQ(MoveTo(browse_.Get(), com::OPC_BROWSE_DOWN, "G1"), com::S_OK);
  EXPECT_THAT(Browse(browse_.Get(), com::OPC_LEAF).names, ElementsAre("Flag", "Big"));
  EXPECT_EQ(ItemId(browse_.Get(), "Flag").second, "DevA.G1.Flag");
  // A branch without sub-branches: S_FALSE and an enumerator that gives nothing.
  Listing none = Browse(browse_.Get(), com::OPC_BRANCH);
  EXPECT_EQ(none.hr, com::S_FALSE);
  EXPECT_THAT(none.names, IsEmpty());

  EXPECT_EQ(MoveTo(browse_.Get(), com::OPC_BROWSE_UP), com::S_OK);
  EXPECT_THAT(Browse(browse_.Get(), com::OPC_BRANCH).names, ElementsAre("G1", "G2"));
  EXPECT_EQ(MoveTo(browse_.Get(), com::OPC_BROWSE_UP), com::S_OK);
  EXPECT_EQ(MoveTo(browse_.Get(), com::OPC_BROWSE_UP), com::E_FAIL);
  EXPECT_THAT(Browse(browse_.Get(), com::OPC_BRANCH).names, ElementsAre("DevA", "DevB"));
}

TEST_P(ServerConformance, ChangeBrowsePositionTakesNamesAndPaths) {
  // TO with a fully qualified path works from anywhere, with a name at the position too.
  EXPECT_EQ(MoveTo(browse_.Get(), com::OPC_BROWSE_TO, "DevA.G2"), com::S_OK);
  EXPECT_THAT(Browse(browse_.Get(), com::OPC_LEAF).names, ElementsAre("Ramp", "Mode"));
  EXPECT_EQ(MoveTo(browse_.Get(), com::OPC_BROWSE_TO, "DevB"), com::S_OK);
  EXPECT_THAT(Browse(browse_.Get(), com::OPC_LEAF).names, ElementsAre("Vector", "Bytes", "Cold"));
  EXPECT_EQ(MoveTo(browse_.Get(), com::OPC_BROWSE_TO, ""), com::S_OK);
  EXPECT_THAT(Browse(browse_.Get(), com::OPC_BRANCH).names, ElementsAre("DevA", "DevB"));

  // Failures leave the position where it was.
  EXPECT_EQ(MoveTo(browse_.Get(), com::OPC_BROWSE_TO, "Nope"), com::E_INVALIDARG);
  EXPECT_EQ(MoveTo(browse_.Get(), com::OPC_BROWSE_TO, "DevA.Temp"), com::E_INVALIDARG);
  EXPECT_EQ(MoveTo(browse_.Get(), com::OPC_BROWSE_DOWN, "DevA.G1"), com::E_INVALIDARG);
  EXPECT_EQ(MoveTo(browse_.Get(), com::OPC_BROWSE_DOWN, "G1"), com::E_INVALIDARG);
  EXPECT_EQ(MoveTo(browse_.Get(), static_cast<com::OPCBROWSEDIRECTION>(7), "DevA"),
            com::E_INVALIDARG);
  EXPECT_THAT(Browse(browse_.Get(), com::OPC_BRANCH).names, ElementsAre("DevA", "DevB"));

  EXPECT_EQ(ItemId(browse_.Get(), "Temp").first, com::E_INVALIDARG);  // not at the root
  EXPECT_EQ(ItemId(browse_.Get(), "DevA.Temp").second, "DevA.Temp");  // an item ID passes
  EXPECT_EQ(ItemId(browse_.Get(), "DevA").second, "DevA");            // a branch at the position
}

TEST_P(ServerConformance, EachServerObjectHasItsOwnBrowsePosition) {
  auto other = NewServer();
  com::ComPtr<com::IOPCBrowseServerAddressSpace> otherBrowse;
  ASSERT_EQ(other.As(com::IID_IOPCBrowseServerAddressSpace, &otherBrowse), com::S_OK);
  ASSERT_EQ(MoveTo(browse_.Get(), com::OPC_BROWSE_TO, "DevB"), com::S_OK);
  EXPECT_THAT(Browse(otherBrowse.Get(), com::OPC_BRANCH).names, ElementsAre("DevA", "DevB"));
}

TEST_P(ServerConformance, FiltersSelectByPatternTypeAndRights) {
  ASSERT_EQ(MoveTo(browse_.Get(), com::OPC_BROWSE_TO, "DevA"), com::S_OK);
  EXPECT_THAT(Browse(browse_.Get(), com::OPC_LEAF, "T*").names, ElementsAre("Temp"));
  EXPECT_THAT(Browse(browse_.Get(), com::OPC_LEAF, "?ount").names, ElementsAre("Count"));
  EXPECT_THAT(Browse(browse_.Get(), com::OPC_LEAF, "*a*e").names, ElementsAre("Name"));
  EXPECT_THAT(Browse(browse_.Get(), com::OPC_BRANCH, "*2").names, ElementsAre("G2"));
  EXPECT_THAT(Browse(browse_.Get(), com::OPC_FLAT, "DevA.G?.*").names,
              ElementsAre("DevA.G1.Flag", "DevA.G1.Big", "DevA.G2.Ramp", "DevA.G2.Mode"));
  // Leaves that AddItems would accept as VT_R8: the text "alpha" is no number.
  EXPECT_THAT(Browse(browse_.Get(), com::OPC_LEAF, "", com::VT_R8).names,
              ElementsAre("Temp", "Count"));
  EXPECT_THAT(Browse(browse_.Get(), com::OPC_LEAF, "", com::VT_EMPTY, com::OPC_WRITEABLE).names,
              ElementsAre("Temp", "Name"));
  EXPECT_THAT(Browse(browse_.Get(), com::OPC_FLAT, "", com::VT_ARRAY | com::VT_R8).names,
              IsEmpty());

  Listing nothing = Browse(browse_.Get(), com::OPC_LEAF, "x*");
  EXPECT_EQ(nothing.hr, com::S_FALSE);
  EXPECT_THAT(nothing.names, IsEmpty());
}

TEST_P(ServerConformance, EnumStringNextSkipResetClone) {
  com::IEnumString* names = nullptr;
  ASSERT_EQ(browse_->BrowseOPCItemIDs(com::OPC_BRANCH, u"", com::VT_EMPTY, 0, &names), com::S_OK);
  com::ComPtr<com::IEnumString> e = com::ComPtr<com::IEnumString>::Adopt(names);

  com::LPOLESTR batch[3] = {};
  com::ULONG fetched = 99;
  EXPECT_EQ(e->Next(3, batch, &fetched), com::S_FALSE);  // fewer than asked
  ASSERT_EQ(fetched, 2u);
  EXPECT_EQ(com::Utf16ToUtf8(com::WideView(batch[1])), "DevB");
  for (com::ULONG i = 0; i < fetched; ++i) com::CoTaskMemFree(batch[i]);
  EXPECT_EQ(e->Next(1, batch, &fetched), com::S_FALSE);
  EXPECT_EQ(fetched, 0u);

  EXPECT_EQ(e->Reset(), com::S_OK);
  EXPECT_EQ(e->Skip(1), com::S_OK);
  com::ComPtr<com::IEnumString> clone;
  ASSERT_EQ(e->Clone(clone.Receive()), com::S_OK);
  EXPECT_THAT(DrainNames(e.Get()), ElementsAre("DevB"));
  EXPECT_THAT(DrainNames(clone.Get()), ElementsAre("DevB"));  // the clone kept its own position
  EXPECT_EQ(clone->Skip(5), com::S_FALSE);
  EXPECT_EQ(clone->Reset(), com::S_OK);
  EXPECT_THAT(DrainNames(clone.Get()), ElementsAre("DevA", "DevB"));
}

TEST_P(ServerConformance, FlatSpaceListsEveryItemAtTheRootUnderTheSameIds) {
  UseFlatSpace();
  com::OPCNAMESPACETYPE organization{};
  EXPECT_EQ(browse_->QueryOrganization(&organization), com::S_OK);
  EXPECT_EQ(organization, com::OPC_NS_FLAT);
  Listing flat = Browse(browse_.Get(), com::OPC_FLAT);
  EXPECT_EQ(flat.hr, com::S_OK);
  EXPECT_EQ(flat.names, kAllIds);
  // The same names in the same order as leaves; no branches (a walk stops there).
  EXPECT_EQ(Browse(browse_.Get(), com::OPC_LEAF).names, kAllIds);
  EXPECT_EQ(Browse(browse_.Get(), com::OPC_BRANCH).hr, com::S_FALSE);
  EXPECT_EQ(MoveTo(browse_.Get(), com::OPC_BROWSE_TO, "DevA"), com::E_INVALIDARG);
  EXPECT_EQ(MoveTo(browse_.Get(), com::OPC_BROWSE_UP), com::E_FAIL);
  EXPECT_EQ(MoveTo(browse_.Get(), com::OPC_BROWSE_TO, ""), com::S_OK);
  EXPECT_EQ(ItemId(browse_.Get(), "DevA.G1.Flag").second, "DevA.G1.Flag");

  auto group = AddTestGroup(server_.Get());
  EXPECT_EQ(AddItem(group.Get(), "DevA.G1.Flag").error, com::S_OK);
}

TEST_P(ServerConformance, BrowseAccessPathsIsNotImplemented) {
  com::IEnumString* paths = reinterpret_cast<com::IEnumString*>(1);
  EXPECT_EQ(browse_->BrowseAccessPaths(u"DevA.Temp", &paths), com::E_NOTIMPL);
  EXPECT_EQ(paths, nullptr);
}
