// Conformance: items, reads, writes, attributes and properties (see
// ServerConformance.h).
#include <gmock/gmock.h>

#include "platform/com/Text.h"
#include "tests/server/ConformanceHelpers.h"
#include "tests/server/ServerConformance.h"

using ::testing::ElementsAre;
using namespace tagwell::testing;

TEST_P(ServerConformance, AddItemsGivesHandlesCanonicalTypesAndRights) {
  auto group = AddTestGroup(server_.Get());
  Added temp = AddItem(group.Get(), "DevA.Temp");
  Added count = AddItem(group.Get(), "DevA.Count");
  Added vector = AddItem(group.Get(), "DevB.Vector");
  for (const Added* a : {&temp, &count, &vector}) {
    EXPECT_EQ(a->hr, com::S_OK);
    EXPECT_EQ(a->error, com::S_OK);
    EXPECT_NE(a->result.hServer, 0u);
  }
  EXPECT_NE(temp.result.hServer, count.result.hServer);
  EXPECT_EQ(temp.result.vtCanonicalDataType, com::VT_R8);
  EXPECT_EQ(temp.result.dwAccessRights, com::OPC_READABLE | com::OPC_WRITEABLE);
  EXPECT_EQ(count.result.vtCanonicalDataType, com::VT_I2);
  EXPECT_EQ(count.result.dwAccessRights, com::OPC_READABLE);
  EXPECT_EQ(vector.result.vtCanonicalDataType, com::VT_ARRAY | com::VT_R8);
  EXPECT_EQ(temp.result.pBlob, nullptr);
}

TEST_P(ServerConformance, AddItemsRefusesWithPerItemCodesAndZeroedResults) {
  auto group = AddTestGroup(server_.Get());
  struct Case {
    const char* id;
    com::VARTYPE requested;
    com::HRESULT error;
  } cases[] = {
      {"DevA.Nope", com::VT_EMPTY, com::OPC_E_UNKNOWNITEMID},
      {"DevA", com::VT_EMPTY, com::OPC_E_UNKNOWNITEMID},  // a branch is no item
      {"DevA..Temp", com::VT_EMPTY, com::OPC_E_INVALIDITEMID},
      {"", com::VT_EMPTY, com::OPC_E_INVALIDITEMID},
      {"DevA.Name", com::VT_R8, com::OPC_E_BADTYPE},  // "alpha" is no number
      {"DevA.Temp", com::VT_ARRAY | com::VT_R8, com::OPC_E_BADTYPE},
      {"DevB.Vector", com::VT_R8, com::OPC_E_BADTYPE},
      {"DevB.Bytes", com::VT_ARRAY | com::VT_R8, com::OPC_E_BADTYPE},
      {"DevA.Temp", com::VT_UNKNOWN, com::OPC_E_BADTYPE},
  };
  for (const Case& c : cases) {
    Added a = AddItem(group.Get(), c.id, c.requested);
    EXPECT_EQ(a.hr, com::S_FALSE) << c.id;
    EXPECT_EQ(a.error, c.error) << c.id;
    EXPECT_EQ(a.result.hServer, 0u) << c.id;
    EXPECT_EQ(a.result.vtCanonicalDataType, com::VT_EMPTY) << c.id;
  }

  // A batch: the good entries are added, the bad one refused.
  std::u16string good = u"Root2", bad = u"Nope", path;
  com::OPCITEMDEF defs[2] = {};
  defs[0].szItemID = good.data();
  defs[1].szItemID = bad.data();
  defs[0].szAccessPath = defs[1].szAccessPath = path.data();
  com::OPCITEMRESULT* results = nullptr;
  com::HRESULT* errors = nullptr;
  EXPECT_EQ(group->AddItems(2, defs, &results, &errors), com::S_FALSE);
  EXPECT_EQ(errors[0], com::S_OK);
  EXPECT_EQ(errors[1], com::OPC_E_UNKNOWNITEMID);
  EXPECT_NE(results[0].hServer, 0u);
  com::CoTaskMemFree(results);
  com::CoTaskMemFree(errors);
  EXPECT_EQ(group->AddItems(0, defs, &results, &errors), com::E_INVALIDARG);
}

TEST_P(ServerConformance, ValidateItemsChecksWithoutAdding) {
  auto group = AddTestGroup(server_.Get());
  std::u16string id = u"DevA.G1.Big", path;
  com::OPCITEMDEF def{};
  def.szItemID = id.data();
  def.szAccessPath = path.data();
  com::OPCITEMRESULT* results = nullptr;
  com::HRESULT* errors = nullptr;
  ASSERT_EQ(group->ValidateItems(1, &def, com::FALSE, &results, &errors), com::S_OK);
  EXPECT_EQ(results[0].vtCanonicalDataType, com::VT_UI4);
  com::CoTaskMemFree(results);
  com::CoTaskMemFree(errors);
  com::IEnumOPCItemAttributes* attributes = nullptr;
  EXPECT_EQ(group->CreateEnumerator(com::IID_IEnumOPCItemAttributes,
                                    reinterpret_cast<com::LPUNKNOWN*>(&attributes)),
            com::S_FALSE);
  if (attributes) attributes->Release();
}

TEST_P(ServerConformance, ReadGivesValueQualityAndTimeStampOfEveryType) {
  auto group = AddTestGroup(server_.Get());
  clock_->Advance(std::chrono::seconds(3));
  const auto handleOf = [&](const char* id) { return AddItem(group.Get(), id).result.hServer; };

  ReadResult temp = ReadItem(group.Get(), handleOf("DevA.Temp"));
  EXPECT_EQ(temp.hr, com::S_OK);
  EXPECT_EQ(temp.error, com::S_OK);
  EXPECT_EQ(temp.value->vt, com::VT_R8);
  EXPECT_EQ(temp.value->dblVal, 21.5);
  EXPECT_EQ(temp.quality, com::OPC_QUALITY_GOOD);
  EXPECT_EQ(temp.clientHandle, 1u);
  EXPECT_TRUE(SameTime(temp.timeStamp, TestEpoch()));  // a static value keeps its time

  ReadResult count = ReadItem(group.Get(), handleOf("DevA.Count"));
  EXPECT_EQ(count.value->vt, com::VT_I2);
  EXPECT_EQ(count.value->iVal, -5);
  ReadResult flag = ReadItem(group.Get(), handleOf("DevA.G1.Flag"));
  EXPECT_EQ(flag.value->vt, com::VT_BOOL);
  EXPECT_EQ(flag.value->boolVal, com::VARIANT_TRUE);
  ReadResult big = ReadItem(group.Get(), handleOf("DevA.G1.Big"));
  EXPECT_EQ(big.value->vt, com::VT_UI4);
  EXPECT_EQ(big.value->ulVal, 3000000000u);
  EXPECT_EQ(TextOf(*ReadItem(group.Get(), handleOf("DevA.Name")).value.get()), "alpha");
  ReadResult vector = ReadItem(group.Get(), handleOf("DevB.Vector"));
  EXPECT_EQ(vector.value->vt, com::VT_ARRAY | com::VT_R8);
  EXPECT_THAT(ArrayOf(*vector.value.get()), ElementsAre(1.0, 2.0, 3.0));
  EXPECT_THAT(ArrayOf(*ReadItem(group.Get(), handleOf("DevB.Bytes")).value.get()),
              ElementsAre(7.0, 8.0));
  EXPECT_EQ(ReadItem(group.Get(), handleOf("DevB.Cold")).quality, com::OPC_QUALITY_DEVICE_FAILURE);

  // A signal is computed at the reading's time: 3 s into a 10 s ramp from 0 to 10.
  ReadResult ramp = ReadItem(group.Get(), handleOf("DevA.G2.Ramp"));
  EXPECT_EQ(ramp.value->vt, com::VT_R4);
  EXPECT_FLOAT_EQ(ramp.value->fltVal, 3.0f);
  EXPECT_TRUE(SameTime(ramp.timeStamp, clock_->Now()));
}

TEST_P(ServerConformance, RequestedTypesAreServedConverted) {
  auto group = AddTestGroup(server_.Get());
  Added temp = AddItem(group.Get(), "DevA.Temp", com::VT_I4);
  ASSERT_EQ(temp.error, com::S_OK);
  EXPECT_EQ(temp.result.vtCanonicalDataType, com::VT_R8);  // the canonical type is still told
  ReadResult asI4 = ReadItem(group.Get(), temp.result.hServer);
  EXPECT_EQ(asI4.value->vt, com::VT_I4);
  EXPECT_EQ(asI4.value->lVal, 22);  // 21.5 rounds half to even

  ReadResult asText =
      ReadItem(group.Get(), AddItem(group.Get(), "DevA.Count", com::VT_BSTR).result.hServer);
  EXPECT_EQ(TextOf(*asText.value.get()), "-5");

  // A value that overflows the requested type fails that item's read, not the call.
  Added big = AddItem(group.Get(), "DevA.G1.Big", com::VT_I2);
  ASSERT_EQ(big.error, com::S_OK);
  ReadResult overflow = ReadItem(group.Get(), big.result.hServer);
  EXPECT_EQ(overflow.hr, com::S_FALSE);
  EXPECT_EQ(overflow.error, com::OPC_E_RANGE);
  EXPECT_EQ(overflow.quality, com::OPC_QUALITY_BAD);
  EXPECT_EQ(overflow.value->vt, com::VT_EMPTY);

  // SetDatatypes changes what a later read gives.
  com::OPCHANDLE handle = temp.result.hServer;
  com::VARTYPE types[1] = {com::VT_BSTR};
  com::HRESULT* errors = nullptr;
  ASSERT_EQ(group->SetDatatypes(1, &handle, types, &errors), com::S_OK);
  com::CoTaskMemFree(errors);
  EXPECT_EQ(TextOf(*ReadItem(group.Get(), handle).value.get()), "21.5");
  types[0] = com::VT_ARRAY | com::VT_UI1;
  ASSERT_EQ(group->SetDatatypes(1, &handle, types, &errors), com::S_FALSE);
  EXPECT_EQ(errors[0], com::OPC_E_BADTYPE);
  com::CoTaskMemFree(errors);
}

TEST_P(ServerConformance, BadHandlesFailPerItem) {
  auto group = AddTestGroup(server_.Get());
  com::OPCHANDLE handle = AddItem(group.Get(), "Root2").result.hServer;
  ReadResult bad = ReadItem(group.Get(), handle + 100);
  EXPECT_EQ(bad.hr, com::S_FALSE);
  EXPECT_EQ(bad.error, com::OPC_E_INVALIDHANDLE);
  EXPECT_EQ(bad.value->vt, com::VT_EMPTY);

  com::HRESULT* errors = nullptr;
  com::OPCHANDLE handles[2] = {handle, handle + 100};
  ASSERT_EQ(group->RemoveItems(2, handles, &errors), com::S_FALSE);
  EXPECT_EQ(errors[0], com::S_OK);
  EXPECT_EQ(errors[1], com::OPC_E_INVALIDHANDLE);
  com::CoTaskMemFree(errors);
  EXPECT_EQ(ReadItem(group.Get(), handle).error, com::OPC_E_INVALIDHANDLE);
  EXPECT_EQ(WriteItem(group.Get(), handle, *MakeR8(1).get()),
            std::make_pair(com::S_FALSE, com::OPC_E_INVALIDHANDLE));
}

TEST_P(ServerConformance, CacheReadsOfInactiveItemsAreOutOfService) {
  auto group = AddTestGroup(server_.Get());  // an inactive group
  com::OPCHANDLE handle = AddItem(group.Get(), "Root2").result.hServer;
  EXPECT_EQ(ReadItem(group.Get(), handle, com::OPC_DS_CACHE).quality,
            com::OPC_QUALITY_OUT_OF_SERVICE);
  EXPECT_EQ(ReadItem(group.Get(), handle, com::OPC_DS_DEVICE).quality, com::OPC_QUALITY_GOOD);
  EXPECT_EQ(ReadItem(group.Get(), handle, static_cast<com::OPCDATASOURCE>(5)).hr,
            com::E_INVALIDARG);
}

TEST_P(ServerConformance, WritesAreSharedByEveryServerObjectOfTheSpace) {
  auto group = AddTestGroup(server_.Get());
  com::OPCHANDLE monitor = AddItem(group.Get(), "OPC.ConnectionMonitor").result.hServer;
  clock_->Advance(std::chrono::seconds(42));
  EXPECT_EQ(WriteItem(group.Get(), monitor, *MakeI4(1).get()),
            std::make_pair(com::S_OK, com::S_OK));

  auto other = NewServer();
  auto otherGroup = AddTestGroup(other.Get());
  ReadResult seen =
      ReadItem(otherGroup.Get(), AddItem(otherGroup.Get(), "OPC.ConnectionMonitor").result.hServer);
  EXPECT_EQ(seen.value->lVal, 1);
  EXPECT_TRUE(SameTime(seen.timeStamp, clock_->Now()));

  // Values convert to the canonical type: text to a string item, a number as text.
  com::OPCHANDLE name = AddItem(group.Get(), "DevA.Name").result.hServer;
  EXPECT_EQ(WriteItem(group.Get(), name, *MakeR8(12.5).get()).second, com::S_OK);
  EXPECT_EQ(
      TextOf(*ReadItem(otherGroup.Get(), AddItem(otherGroup.Get(), "DevA.Name").result.hServer)
                  .value.get()),
      "12.5");
  com::OPCHANDLE temp = AddItem(group.Get(), "DevA.Temp").result.hServer;
  EXPECT_EQ(WriteItem(group.Get(), temp, *MakeText("42.25").get()).second, com::S_OK);
  EXPECT_EQ(ReadItem(group.Get(), temp).value->dblVal, 42.25);
  // A value of the canonical type is stored as written: a boolean written as
  // 1 (not VARIANT_TRUE) reads back as 1, so what a client sends stays visible.
  com::OPCHANDLE flag = AddItem(group.Get(), "DevA.G1.Flag").result.hServer;
  com::Variant one;
  one->vt = com::VT_BOOL;
  one->boolVal = 1;
  EXPECT_EQ(WriteItem(group.Get(), flag, *one.get()).second, com::S_OK);
  EXPECT_EQ(ReadItem(group.Get(), flag).value->boolVal, 1);
}

TEST_P(ServerConformance, WritesAreRefusedPerItem) {
  auto group = AddTestGroup(server_.Get());
  const auto handleOf = [&](const char* id) { return AddItem(group.Get(), id).result.hServer; };
  const auto expectRefused = [&](const char* id, const com::Variant& value, com::HRESULT error) {
    EXPECT_EQ(WriteItem(group.Get(), handleOf(id), *value.get()),
              std::make_pair(com::S_FALSE, error))
        << id;
  };
  expectRefused("DevA.Count", MakeI4(3), com::OPC_E_BADRIGHTS);
  expectRefused("DevA.G2.Ramp", MakeR8(3), com::OPC_E_BADRIGHTS);
  expectRefused("DevA.Temp", MakeText("warm"), com::OPC_E_BADTYPE);
  expectRefused("DevA.Temp", com::Variant(), com::OPC_E_BADTYPE);
  expectRefused("DevA.Temp", MakeR8(100.5), com::OPC_E_RANGE);     // beyond the EU range
  expectRefused("DevA.G2.Mode", MakeI4(70000), com::OPC_E_RANGE);  // beyond VT_UI2
  expectRefused("DevA.G2.Mode", MakeI4(-1), com::OPC_E_RANGE);
  // Nothing of it arrived.
  EXPECT_EQ(ReadItem(group.Get(), handleOf("DevA.Temp")).value->dblVal, 21.5);
  EXPECT_EQ(ReadItem(group.Get(), handleOf("DevA.G2.Mode")).value->uiVal, 1);
}

TEST_P(ServerConformance, ClientHandlesAndActiveStateAreKeptPerItem) {
  auto group = AddTestGroup(server_.Get());
  com::OPCHANDLE handle = AddItem(group.Get(), "Root2", com::VT_EMPTY, 5).result.hServer;
  com::OPCHANDLE client[1] = {77};
  com::HRESULT* errors = nullptr;
  ASSERT_EQ(group->SetClientHandles(1, &handle, client, &errors), com::S_OK);
  com::CoTaskMemFree(errors);
  EXPECT_EQ(ReadItem(group.Get(), handle).clientHandle, 77u);
  ASSERT_EQ(group->SetActiveState(1, &handle, com::TRUE, &errors), com::S_OK);
  com::CoTaskMemFree(errors);
}

TEST_P(ServerConformance, AttributesAreEnumeratedInAddOrderWithEuInfo) {
  auto group = AddTestGroup(server_.Get());
  AddItem(group.Get(), "DevA.G2.Mode");
  AddItem(group.Get(), "Root2", com::VT_I4);
  AddItem(group.Get(), "DevA.Temp");
  com::ComPtr<com::IEnumOPCItemAttributes> e;
  ASSERT_EQ(group->CreateEnumerator(com::IID_IEnumOPCItemAttributes,
                                    reinterpret_cast<com::LPUNKNOWN*>(e.Receive())),
            com::S_OK);
  std::vector<std::string> ids;
  std::vector<com::DWORD> euTypes;
  com::OPCITEMATTRIBUTES* record = nullptr;
  com::ULONG fetched = 0;
  while (e->Next(1, &record, &fetched) == com::S_OK) {
    ids.push_back(com::Utf16ToUtf8(com::WideView(record->szItemID)));
    euTypes.push_back(record->dwEUType);
    if (record->dwEUType == com::OPC_ANALOG) {
      EXPECT_THAT(ArrayOf(record->vEUInfo), ElementsAre(0.0, 100.0));
    }
    if (record->dwEUType == com::OPC_ENUMERATED) {
      EXPECT_THAT(TextsOf(record->vEUInfo), ElementsAre("Off", "On"));
    }
    if (ids.back() == "Root2") {
      EXPECT_EQ(record->vtRequestedDataType, com::VT_I4);
      EXPECT_EQ(record->vtCanonicalDataType, com::VT_R8);
    }
    com::CoTaskMemFree(record->szAccessPath);
    com::CoTaskMemFree(record->szItemID);
    com::VariantClear(&record->vEUInfo);
    com::CoTaskMemFree(record);
  }
  EXPECT_THAT(ids, ElementsAre("DevA.G2.Mode", "Root2", "DevA.Temp"));
  EXPECT_THAT(euTypes, ElementsAre(com::OPC_ENUMERATED, com::OPC_NOENUM, com::OPC_ANALOG));
  com::ComPtr<com::IUnknown> wrong;
  EXPECT_EQ(group->CreateEnumerator(com::IID_IEnumString, wrong.Receive()), com::E_NOINTERFACE);
}
