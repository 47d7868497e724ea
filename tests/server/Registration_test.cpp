// The in-process classes "Tagwell.Simulation.1" and "Tagwell.TestServer.1".
#include <gtest/gtest.h>

#include "platform/com/Runtime.h"
#include "server/AddressSpaceXml.h"
#include "server/Simulation.h"
#include "tests/server/ConformanceHelpers.h"
#include "tests/support/TestServer.h"

namespace tagwell::testing {
namespace {

com::ComPtr<com::IOPCServer> CreateByProgId(const char16_t* progId, com::HRESULT* hr) {
  com::CLSID clsid{};
  *hr = com::CLSIDFromString(progId, &clsid);
  com::MULTI_QI qi{&com::IID_IOPCServer, nullptr, com::S_OK};
  if (com::SUCCEEDED(*hr))
    *hr = com::CoCreateInstanceEx(
        clsid, nullptr, com::CLSCTX_INPROC_SERVER | com::CLSCTX_LOCAL_SERVER, nullptr, 1, &qi);
  return com::ComPtr<com::IOPCServer>::Adopt(static_cast<com::IOPCServer*>(qi.pItf));
}

class Registration : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(com::SUCCEEDED(com::CoInitialize(nullptr))); }
  void TearDown() override { com::CoUninitialize(); }
};

TEST_F(Registration, ObjectsOfOneRegistrationShareTheSpaceButNotTheirGroups) {
  auto clock = std::make_shared<ManualClock>(TestEpoch());
  const com::DWORD cookie =
      server::RegisterSimulationServerInproc(server::MakeDefaultAddressSpace(clock));
  com::HRESULT hr = com::E_FAIL;
  auto first = CreateByProgId(u"Tagwell.Simulation.1", &hr);
  ASSERT_EQ(hr, com::S_OK);
  auto second = CreateByProgId(u"Tagwell.Simulation.1", &hr);
  ASSERT_EQ(hr, com::S_OK);

  auto writer = AddTestGroup(first.Get(), "Group");
  auto reader = AddTestGroup(second.Get(), "Group");  // the same name on another object
  ASSERT_TRUE(writer && reader);
  const com::OPCHANDLE w = AddItem(writer.Get(), "OPC.ConnectionMonitor").result.hServer;
  const com::OPCHANDLE r = AddItem(reader.Get(), "OPC.ConnectionMonitor").result.hServer;
  ASSERT_EQ(WriteItem(writer.Get(), w, *MakeI4(1).get()).first, com::S_OK);
  EXPECT_EQ(ReadItem(reader.Get(), r).value->lVal, 1);

  writer.Reset();
  reader.Reset();
  first.Reset();
  second.Reset();
  com::RevokeInprocClass(cookie);
  CreateByProgId(u"Tagwell.Simulation.1", &hr);
  EXPECT_TRUE(com::FAILED(hr));
}

TEST_F(Registration, TheTestServerHasItsOwnClass) {
  auto script = std::make_shared<FaultScript>();
  const com::DWORD cookie = RegisterTestServerInproc(server::MakeDefaultAddressSpace(), script);
  com::CLSID clsid{};
  ASSERT_EQ(com::CLSIDFromString(u"Tagwell.TestServer.1", &clsid), com::S_OK);
  EXPECT_EQ(clsid, CLSID_TagwellTestServer);
  script->Set(Fault::GetStatusFails);
  com::HRESULT hr = com::E_FAIL;
  auto server = CreateByProgId(u"Tagwell.TestServer.1", &hr);
  ASSERT_EQ(hr, com::S_OK);
  com::OPCSERVERSTATUS* status = nullptr;
  EXPECT_EQ(server->GetStatus(&status), com::E_FAIL);
  server.Reset();
  com::RevokeInprocClass(cookie);
}

}  // namespace
}  // namespace tagwell::testing
