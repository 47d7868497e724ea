// Activation when things are not as they should be: unknown classes,
// servers that cannot start or never listen, endpoints in shared folders.
#include "rpc/Activation.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/com/Text.h"
#include "platform/opcda/OpcDa.h"
#include "platform/registry/Registry.h"
#include "rpc/Endpoint.h"
#include "server/Simulation.h"
#include "tests/rpc/RpcTestSupport.h"

namespace tagwell::testing {
namespace {

using namespace com;
using namespace std::chrono_literals;

class ActivationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::mkdir(folder_.c_str(), 0700), 0);
    registry::SetInstalledServerFolders({folder_});
  }
  void TearDown() override { registry::SetInstalledServerFolders({}); }

  HRESULT Activate() {
    MULTI_QI query{&IID_IOPCServer, nullptr, S_OK};
    HRESULT hr = activator_.Activate(server::CLSID_TagwellSimulation, u"", 1, &query);
    EXPECT_EQ(query.hr, hr);
    EXPECT_EQ(query.pItf, nullptr);
    return hr;
  }

  TempDir dir_;
  std::string folder_ = dir_.File("servers");
  rpc::RpcActivator activator_{rpc::ActivationOptions{5s, 3s}};
};

TEST_F(ActivationTest, AClassWithoutUsableRegistrationIsNotRegistered) {
  EXPECT_EQ(Activate(), REGDB_E_CLASSNOTREG);
  WriteSimulationRegistration(folder_, ServerProgram(), "tcp:localhost:4135");
  EXPECT_EQ(Activate(), REGDB_E_CLASSNOTREG);
}

TEST_F(ActivationTest, AServerThatCannotStartOrNeverListensIsAnExecFailure) {
  std::string socket = dir_.File("run/s.sock");
  WriteSimulationRegistration(folder_, dir_.File("missing-program --embedding"), "unix:" + socket);
  EXPECT_EQ(Activate(), CO_E_SERVER_EXEC_FAILURE);
  WriteSimulationRegistration(folder_, "", "unix:" + socket);
  EXPECT_EQ(Activate(), CO_E_SERVER_EXEC_FAILURE);
  // Starts, and exits at once without listening (each retry likewise).
  WriteSimulationRegistration(folder_, "/bin/true", "unix:" + socket);
  EXPECT_EQ(Activate(), CO_E_SERVER_EXEC_FAILURE);
  // Listens, but on another endpoint: activation gives up after its bound.
  WriteSimulationRegistration(
      folder_, ServerProgram() + " --embedding --idle-exit 1 --endpoint unix:" + dir_.File("x"),
      "unix:" + socket);
  EXPECT_EQ(Activate(), CO_E_SERVER_EXEC_FAILURE);
}

TEST_F(ActivationTest, AnEndpointInAFolderOthersCanReachIsRefused) {
  ASSERT_EQ(::mkdir(dir_.File("shared").c_str(), 0755), 0);
  WriteSimulationRegistration(folder_, ServerProgram() + " --embedding",
                              "unix:" + dir_.File("shared/s.sock"));
  EXPECT_EQ(Activate(), E_ACCESSDENIED);
  EXPECT_FALSE(FileExists(dir_.File("shared/s.sock")));
  std::string error;
  EXPECT_FALSE(rpc::EnsurePrivateFolder(dir_.File("shared"), &error));
  EXPECT_NE(error.find("mode 755"), std::string::npos) << error;
}

TEST(HostPort, ComputerNamesSplitIntoHostAndPort) {
  struct Case {
    const char* text;
    bool ok;
    const char* host;
    std::uint16_t port;
  };
  const Case cases[] = {
      {"plant-7", true, "plant-7", 4135},
      {"plant-7:5000", true, "plant-7", 5000},
      {"[::1]:88", true, "::1", 88},
      {"[fe80::1]", true, "fe80::1", 4135},
      {"::1", true, "::1", 4135},
      {"host:", false, "", 0},
      {"host:0", false, "", 0},
      {"host:70000", false, "", 0},
      {"host:12ab", false, "", 0},
      {":4135", false, "", 0},
      {"[::1", false, "", 0},
      {"", false, "", 0},
  };
  for (const Case& c : cases) {
    std::string host;
    std::uint16_t port = 0;
    EXPECT_EQ(rpc::SplitHostPort(c.text, 4135, &host, &port), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(host, c.host) << c.text;
    EXPECT_EQ(port, c.port) << c.text;
  }
}

}  // namespace
}  // namespace tagwell::testing
