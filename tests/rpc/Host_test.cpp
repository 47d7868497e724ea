// tagwell-server itself: its command line, one server per endpoint, stale
// sockets, clean stops, start failures, and the registration files the
// build writes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <tuple>

#include "platform/opcda/OpcDa.h"
#include "platform/registry/Registry.h"
#include "rpc/Client.h"
#include "rpc/Endpoint.h"
#include "server/Simulation.h"
#include "server/host/HostOptions.h"
#include "tests/rpc/RpcTestSupport.h"

namespace tagwell::testing {
namespace {

using namespace com;
using namespace std::chrono_literals;
using host::ParseHostOptions;

TEST(HostOptions, TheCommandLineIsReadOrRefusedWithAReason) {
  std::string error;
  auto options = ParseHostOptions({"--listen", "4135", "--embedding", "--flat", "--endpoint",
                                   "unix:/run/x.sock", "--address-space", "plant.xml"},
                                  &error);
  ASSERT_TRUE(options) << error;
  EXPECT_EQ(options->tcpAddress, "127.0.0.1") << "loopback unless an address is given";
  EXPECT_EQ(options->tcpPort, 4135);
  EXPECT_TRUE(options->embedding);
  EXPECT_TRUE(options->flat);
  EXPECT_EQ(options->endpointPath, "/run/x.sock");
  EXPECT_EQ(options->addressSpaceFile, "plant.xml");
  EXPECT_FALSE(ParseHostOptions({}, &error)->embedding) << "started by hand it keeps running";

  options = ParseHostOptions({"--listen", "[::1]:99"}, &error);
  ASSERT_TRUE(options);
  EXPECT_EQ(options->tcpAddress, "::1");
  EXPECT_EQ(ParseHostOptions({"--listen", "0.0.0.0:4135"}, &error)->tcpAddress, "0.0.0.0");

  const std::string print(32 * 2, 'a');
  options = ParseHostOptions({"--authorize", print, "control room", "--read-only"}, &error);
  ASSERT_TRUE(options) << error;
  EXPECT_TRUE(options->authorize);
  EXPECT_TRUE(options->readOnly);
  EXPECT_EQ(options->authorizeName, "control room");
  EXPECT_EQ(options->authorizeFingerprint.substr(0, 6), "AA:AA:") << "the canonical form";
  EXPECT_TRUE(ParseHostOptions({"--listen", "1", "--allow-any-client"}, &error)->allowAnyClient);
  EXPECT_TRUE(ParseHostOptions({"--fingerprint"}, &error)->printFingerprint);

  // DCOM: all addresses and port 135 unless given; the address is optional.
  for (auto [arguments, address, port] :
       {std::tuple{std::vector<std::string>{"--dcom"}, "0.0.0.0", 135},
        {{"--dcom", "--flat"}, "0.0.0.0", 135},
        {{"--dcom", "127.0.0.1:5135"}, "127.0.0.1", 5135},
        {{"--dcom", ":5135"}, "0.0.0.0", 5135},
        {{"--dcom", "10.0.0.7"}, "10.0.0.7", 135}}) {
    options = ParseHostOptions(arguments, &error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->dcomAddress, address) << arguments.back();
    EXPECT_EQ(options->dcomPort, port) << arguments.back();
  }
  options = ParseHostOptions({"--add-dcom-account", "PLANT\\op", "--read-only"}, &error);
  ASSERT_TRUE(options) << error;
  EXPECT_TRUE(options->addDcomAccount && options->readOnly);
  EXPECT_EQ(options->dcomAccountName, "PLANT\\op");

  for (std::vector<std::string> bad : {std::vector<std::string>{"--listen", "port"},
                                       {"--authorize", "AB:CD", "name"},
                                       {"--authorize", print},
                                       {"--authorize", print, " "},
                                       {"--read-only"},
                                       {"--listen", "70000"},
                                       {"--listen"},
                                       {"--endpoint", "relative.sock"},
                                       {"--idle-exit", "soon"},
                                       {"--dcom", "plant.example:135"},
                                       {"--dcom", "127.0.0.1:0"},
                                       {"--add-dcom-account", "operator"},
                                       {"--verbose"}}) {
    error.clear();
    EXPECT_FALSE(ParseHostOptions(bad, &error)) << bad[0];
    EXPECT_FALSE(error.empty());
  }
}

class HostTest : public ::testing::Test {
 protected:
  std::vector<std::string> Arguments(std::vector<std::string> more = {}) {
    std::vector<std::string> arguments = {"--endpoint", "unix:" + socket_};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return arguments;
  }
  HRESULT CreateAndRelease() {
    ComPtr<IOPCServer> server;
    return rpc::CreateObjectAt("unix:" + socket_, server::CLSID_TagwellSimulation, IID_IOPCServer,
                               server.ReceiveVoid());
  }

  TempDir dir_;
  std::string socket_ = dir_.File("run/sim.sock");
};

TEST_F(HostTest, OneServerPerEndpointKeepsRunningByHandAndStopsCleanly) {
  // --idle-exit 0 would stop a server started by activation at once.
  ChildProcess first(ServerProgram(), Arguments({"--idle-exit", "0"}), dir_.path());
  ASSERT_TRUE(WaitUntil([&] { return EndpointPid(socket_) == first.pid(); })) << first.Stderr();

  ChildProcess second(ServerProgram(), Arguments(), dir_.path());
  EXPECT_EQ(second.Wait(), 1);
  EXPECT_NE(second.Stderr().find("another server already listens on unix:" + socket_),
            std::string::npos)
      << second.Stderr();

  EXPECT_EQ(CreateAndRelease(), S_OK);
  EXPECT_EQ(CreateAndRelease(), S_OK);
  EXPECT_EQ(EndpointPid(socket_), first.pid());

  first.Signal(SIGTERM);
  EXPECT_EQ(first.Wait(), 0);
  EXPECT_NE(first.Stderr().find("SIGTERM received"), std::string::npos);
  EXPECT_FALSE(FileExists(socket_));
}

// Where a server (the one Tagwell started, say) already serves the local
// endpoint, a second one told to listen on TCP serves remote clients and
// leaves the local ones to the first. Its log names the file it serves.
TEST_F(HostTest, ARemoteServerBesideALocalOneServesTcpOnly) {
  ChildProcess local(ServerProgram(), Arguments({"--idle-exit", "0"}), dir_.path());
  ASSERT_TRUE(WaitUntil([&] { return EndpointPid(socket_) == local.pid(); })) << local.Stderr();
  WriteFile(dir_.File("press.xml"),
            "<AddressSpace><Item name=\"x\" type=\"VT_I4\" value=\"1\"/></AddressSpace>");
  ChildProcess remote(
      ServerProgram(),
      Arguments({"--listen", "127.0.0.1:0", "--address-space", dir_.File("press.xml")}),
      dir_.path());
  ASSERT_TRUE(WaitUntil([&] {
    return remote.Stderr().find("serving remote clients on") != std::string::npos;
  })) << remote.Stderr();
  EXPECT_NE(remote.Stderr().find("another server already listens on unix:" + socket_),
            std::string::npos);
  EXPECT_NE(remote.Stderr().find("serving " + dir_.File("press.xml") +
                                 " (1 item, 0 Modbus devices) as Tagwell.Simulation.1"),
            std::string::npos)
      << remote.Stderr();
  remote.Signal(SIGTERM);
  EXPECT_EQ(remote.Wait(), 0) << remote.Stderr();
  EXPECT_EQ(EndpointPid(socket_), local.pid()) << "the local server keeps its endpoint";
  EXPECT_EQ(CreateAndRelease(), S_OK);
  local.Signal(SIGTERM);
  EXPECT_EQ(local.Wait(), 0);
}

TEST_F(HostTest, AStaleSocketFileIsReplaced) {
  ASSERT_EQ(::mkdir(dir_.File("run").c_str(), 0700), 0);
  int stale = rpc::ListenUnix(socket_);
  ASSERT_GE(stale, 0);
  ::close(stale);  // the file stays, nobody listens: a crashed server's
  ASSERT_TRUE(FileExists(socket_));
  ChildProcess server(ServerProgram(), Arguments(), dir_.path());
  ASSERT_TRUE(WaitUntil([&] { return EndpointPid(socket_) == server.pid(); })) << server.Stderr();
  EXPECT_EQ(CreateAndRelease(), S_OK);
  server.Signal(SIGINT);
  EXPECT_EQ(server.Wait(), 0);
}

TEST_F(HostTest, AServerThatCannotStartSaysWhyAndExitsWithOne) {
  WriteFile(dir_.File("plant.xml"), "<AddressSpace><Item name=\"x\" type=\"VT_NOPE\"/>");
  ChildProcess badSpace(ServerProgram(), Arguments({"--address-space", dir_.File("plant.xml")}),
                        dir_.path());
  EXPECT_EQ(badSpace.Wait(), 1);
  EXPECT_NE(badSpace.Stderr().find("plant.xml"), std::string::npos) << badSpace.Stderr();
  EXPECT_FALSE(FileExists(socket_));

  WriteFile(dir_.File("press.xml"),
            "<AddressSpace>\n<ModbusDevice name=\"P\" host=\"h\">\n"
            "<Item name=\"x\" register=\"holdingRegister\" address=\"1\" encoding=\"int24\"/>\n"
            "</ModbusDevice></AddressSpace>");
  ChildProcess badDevice(ServerProgram(), Arguments({"--address-space", dir_.File("press.xml")}),
                         dir_.path());
  EXPECT_EQ(badDevice.Wait(), 1);
  EXPECT_NE(badDevice.Stderr().find("press.xml:3:"), std::string::npos) << badDevice.Stderr();
  EXPECT_NE(badDevice.Stderr().find("unknown encoding \"int24\""), std::string::npos);

  ChildProcess unknownClass(ServerProgram(), Arguments({"--class", "Nobody.Registered.1"}),
                            dir_.path());
  EXPECT_EQ(unknownClass.Wait(), 1);
  EXPECT_NE(unknownClass.Stderr().find("no registration file names the ProgID Nobody.Registered.1"),
            std::string::npos)
      << unknownClass.Stderr();

  ChildProcess badArgument(ServerProgram(), {"--listen", "x"}, dir_.path());
  EXPECT_EQ(badArgument.Wait(), 2);
  EXPECT_NE(badArgument.Stderr().find("Usage: tagwell-server"), std::string::npos);
}

// A server of another class (an operator's own registration) answers for
// that CLSID only.
TEST_F(HostTest, AnotherClassIsServedUnderItsOwnClsid) {
  const char* kOther = "{2B0F6A51-7C1E-4D3A-8E55-0A1B2C3D4E5F}";
  CLSID other{};
  ASSERT_TRUE(ParseGuid(kOther, &other));
  ChildProcess server(ServerProgram(), Arguments({"--class", kOther}), dir_.path());
  ASSERT_TRUE(WaitUntil([&] { return EndpointPid(socket_) == server.pid(); })) << server.Stderr();
  ComPtr<IOPCServer> object;
  EXPECT_EQ(rpc::CreateObjectAt("unix:" + socket_, other, IID_IOPCServer, object.ReceiveVoid()),
            S_OK);
  object.Reset();
  EXPECT_EQ(CreateAndRelease(), REGDB_E_CLASSNOTREG);
  server.Signal(SIGTERM);
  EXPECT_EQ(server.Wait(), 0);
  EXPECT_NE(server.Stderr().find(std::string("serving ") + kOther), std::string::npos);
}

TEST(Registration, TheBuildAndInstallRegistrationsStartTheirTreesServer) {
  auto build = registry::ReadServerFile(TAGWELL_BUILD_REGISTRATION);
  ASSERT_TRUE(build);
  EXPECT_EQ(build->progId, server::kSimulationProgId);
  EXPECT_EQ(build->clsid, server::CLSID_TagwellSimulation);
  EXPECT_TRUE(build->isOpcServer);
  auto words = registry::SplitCommandLine(build->localServer);
  ASSERT_EQ(words.size(), 2u) << build->localServer;
  EXPECT_TRUE(std::filesystem::equivalent(words[0], ServerProgram())) << words[0];
  EXPECT_EQ(words[1], "--embedding");
  EXPECT_EQ(build->endpoint,
            "unix:" + registry::RuntimeFolder() + "/tagwell/Tagwell.Simulation.1.sock");

  // An installed tree: bin/tagwell-server and share/tagwell/servers/.
  TempDir prefix;
  std::filesystem::create_directories(prefix.File("bin"));
  std::filesystem::create_directories(prefix.File("share/tagwell/servers"));
  std::filesystem::copy_file(TAGWELL_INSTALLED_REGISTRATION,
                             prefix.File("share/tagwell/servers/Tagwell.Simulation.1.server"));
  auto installed =
      registry::ReadServerFile(prefix.File("share/tagwell/servers/Tagwell.Simulation.1.server"));
  ASSERT_TRUE(installed);
  words = registry::SplitCommandLine(installed->localServer);
  ASSERT_FALSE(words.empty());
  EXPECT_EQ(std::filesystem::path(words[0]).lexically_normal(),
            std::filesystem::path(prefix.File("bin/tagwell-server")).lexically_normal());
}

}  // namespace
}  // namespace tagwell::testing
