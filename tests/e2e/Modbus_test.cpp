// The desktop client on a Modbus-backed tagwell-server: registered by a file
// of its own, started by Connect, reading a pymodbus device into SQLite and
// writing a set point to it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <memory>

#include "tests/e2e/ModbusPeer.h"
#include "tests/e2e/Process.h"
#include "tests/support/TempDir.h"

namespace tagwell::testing {
namespace {

using namespace std::chrono_literals;

class ModbusServerProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(peer_.port(), 0) << "pymodbus did not start";
    const std::string runtime = work_.File("runtime");
    const std::string servers = work_.File("config/tagwell/servers");
    mkdir(runtime.c_str(), 0700);
    Shell("mkdir -p '" + servers + "'");
    env_ = {{"XDG_RUNTIME_DIR", runtime},
            {"XDG_CONFIG_HOME", work_.File("config")},
            {"QT_QPA_PLATFORM", "offscreen"}};
    // The operator's files: the plant beside its registration.
    WriteFile(servers + "/press.xml",
              "<AddressSpace>\n"
              "  <ModbusDevice name=\"Press\" host=\"127.0.0.1\" port=\"" +
                  std::to_string(peer_.port()) +
                  "\" periodMs=\"200\">\n"
                  "    <Item name=\"Count\" register=\"holdingRegister\" address=\"0\"/>\n"
                  "    <Item name=\"Level\" register=\"inputRegister\" address=\"0\"\n"
                  "          rawLow=\"0\" rawHigh=\"4095\" euLow=\"0\" euHigh=\"100\"/>\n"
                  "    <Item name=\"SetPoint\" register=\"holdingRegister\" address=\"10\"\n"
                  "          encoding=\"float32\"/>\n"
                  "  </ModbusDevice>\n"
                  "</AddressSpace>\n");
    WriteFile(servers + "/Press.Modbus.1.server",
              "[Server]\n"
              "ProgID=Press.Modbus.1\n"
              "CLSID={2B0F6A51-7C1E-4D3A-8E55-0A1B2C3D4E5F}\n"
              "OPC=\n"
              "Description=The press line over Modbus TCP\n"
              "LocalServer=" +
                  ProgramFolder() +
                  "/tagwell-server --embedding --class Press.Modbus.1 --address-space press.xml\n"
                  "Endpoint=unix:$XDG_RUNTIME_DIR/tagwell/Press.Modbus.1.sock\n");
    // The client asks for each item in the canonical type of the one added
    // before it: in this order nothing is lost on the way.
    WriteFile(work_.File("items.xml"),
              "<ItemList>\n"
              "  <Item><Name>Press.Level</Name></Item>\n"
              "  <Item><Name>Press.SetPoint</Name></Item>\n"
              "  <Item><Name>Press.Count</Name></Item>\n"
              "</ItemList>\n");
    database_ = work_.File("plant.db");
    Shell("sqlite3 '" + database_ + "' < '" + std::string(TAGWELL_SOURCE) + "/db/OPCvalues.sql'");
    ASSERT_TRUE(peer_.Set("hr", 0, {321}));
    ASSERT_TRUE(peer_.Set("ir", 0, {2048}));
  }

  std::string Rows(const std::string& name) {
    return Shell("sqlite3 '" + database_ + "' \"SELECT Type || ' ' || Value || ' ' || Quality FROM OPCvalues " +
                 "WHERE Name = '" + name + "' LIMIT 1\"");
  }

  TempDir work_;
  ModbusPeer peer_;
  std::map<std::string, std::string> env_;
  std::string database_;
};

TEST_F(ModbusServerProcess, RecordsTheDeviceAndWritesItsSetPoint) {
  ChildProcess client(ProgramFolder() + "/tagwell_e2e_driver", {}, work_.path(), env_);
  ASSERT_EQ(client.Ask("connect Press.Modbus.1"), "ok connected=1");
  ASSERT_EQ(client.Ask("load " + work_.File("items.xml")), "ok items=3");
  EXPECT_EQ(client.Ask("cycle 1"), "ok cycle=1");
  EXPECT_EQ(client.Ask("read"), "ok");
  EXPECT_EQ(client.Ask("monitor"), "ok monitor=1");
  EXPECT_EQ(client.Ask("database " + database_), "ok writing=1");
  ASSERT_TRUE(WaitUntil([&] { return !Rows("Press.Level").empty(); }, 20s));
  EXPECT_EQ(Rows("Press.Count"), "long 321 Good\n");
  // A scaled level is a float with all the digits of its reading.
  EXPECT_EQ(Rows("Press.Level"), "float 50.01221001221001 Good\n");

  EXPECT_EQ(client.Ask("select 1"), "ok row=1");
  EXPECT_EQ(client.Ask("write 12.5"), "ok");
  EXPECT_EQ(peer_.Get("hr", 10, 2), (std::vector<unsigned>{0x4148, 0x0000}));
  EXPECT_EQ(client.Ask("exit"), "ok");
  EXPECT_TRUE(client.Wait(20s).has_value());
}

}  // namespace
}  // namespace tagwell::testing
