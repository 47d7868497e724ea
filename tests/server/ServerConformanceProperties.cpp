// Conformance: item properties (see ServerConformance.h).
#include <gmock/gmock.h>

#include "platform/com/Text.h"
#include "tests/server/ConformanceHelpers.h"
#include "tests/server/ServerConformance.h"

using ::testing::ElementsAre;
using namespace tagwell::testing;

namespace {

com::ComPtr<com::IOPCItemProperties> PropertiesOf(com::IOPCServer* server) {
  com::ComPtr<com::IOPCItemProperties> properties;
  server->QueryInterface(com::IID_IOPCItemProperties, properties.ReceiveVoid());
  return properties;
}

std::vector<com::DWORD> AvailableIds(com::IOPCItemProperties* properties, std::u16string id) {
  com::DWORD count = 0;
  com::DWORD* ids = nullptr;
  com::LPWSTR* texts = nullptr;
  com::VARTYPE* types = nullptr;
  std::vector<com::DWORD> out;
  if (properties->QueryAvailableProperties(id.data(), &count, &ids, &texts, &types) != com::S_OK)
    return out;
  for (com::DWORD i = 0; i < count; ++i) {
    out.push_back(ids[i]);
    com::CoTaskMemFree(texts[i]);
  }
  com::CoTaskMemFree(ids);
  com::CoTaskMemFree(texts);
  com::CoTaskMemFree(types);
  return out;
}

}  // namespace

TEST_P(ServerConformance, ItemPropertiesDescribeEachItem) {
  auto properties = PropertiesOf(server_.Get());
  ASSERT_TRUE(properties);
  EXPECT_THAT(AvailableIds(properties.Get(), u"DevA.Temp"),
              ElementsAre(1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 102u, 103u));
  EXPECT_THAT(AvailableIds(properties.Get(), u"DevA.Count"),
              ElementsAre(1u, 2u, 3u, 4u, 5u, 6u, 7u));

  std::u16string id = u"DevA.Temp";
  com::DWORD ids[] = {1, 2, 3, 5, 7, 8, 102, 103, 101};
  com::VARIANT* values = nullptr;
  com::HRESULT* errors = nullptr;
  ASSERT_EQ(properties->GetItemProperties(id.data(), 9, ids, &values, &errors), com::S_FALSE);
  EXPECT_EQ(values[0].iVal, com::VT_R8);
  EXPECT_EQ(values[1].dblVal, 21.5);
  EXPECT_EQ(values[2].iVal, com::OPC_QUALITY_GOOD);
  EXPECT_EQ(values[3].lVal, static_cast<com::LONG>(com::OPC_READABLE | com::OPC_WRITEABLE));
  EXPECT_EQ(values[4].lVal, com::OPC_ANALOG);
  EXPECT_THAT(ArrayOf(values[5]), ElementsAre(0.0, 100.0));
  EXPECT_EQ(values[6].dblVal, 100.0);
  EXPECT_EQ(values[7].dblVal, 0.0);
  EXPECT_EQ(errors[8], com::OPC_E_INVALID_PID);  // no description configured
  EXPECT_EQ(values[8].vt, com::VT_EMPTY);
  for (int i = 0; i < 9; ++i) com::VariantClear(&values[i]);
  com::CoTaskMemFree(values);
  com::CoTaskMemFree(errors);

  // An enumerated item's EU info is the list of its state texts.
  std::u16string mode = u"DevA.G2.Mode";
  com::DWORD euInfo[] = {8};
  ASSERT_EQ(properties->GetItemProperties(mode.data(), 1, euInfo, &values, &errors), com::S_OK);
  EXPECT_THAT(TextsOf(values[0]), ElementsAre("Off", "On"));
  com::VariantClear(&values[0]);
  com::CoTaskMemFree(values);
  com::CoTaskMemFree(errors);

  std::u16string unknown = u"DevA.Nope";
  EXPECT_EQ(properties->GetItemProperties(unknown.data(), 1, ids, &values, &errors),
            com::OPC_E_UNKNOWNITEMID);
  EXPECT_EQ(values, nullptr);
}
