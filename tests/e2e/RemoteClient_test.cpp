// A desktop client and a tagwell-server on another "computer" (loopback
// TCP): the operator trusts the server on first use before being told the
// server does not know this computer yet, the server lets the client in
// once it is authorized, after the server was killed and started again
// with its key the client reads again without a question, and a server
// back with another key is refused with one line in the log.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <regex>

#include "tests/e2e/Process.h"
#include "tests/support/Ports.h"
#include "tests/support/TempDir.h"

namespace tagwell::testing {
namespace {

using namespace std::chrono_literals;

const std::string kClsid = "{6E0C5A1D-3B7F-4C2E-9A41-2F8D7B1C9E53}";

// A TCP port that was free a moment ago (the server binds it with
// SO_REUSEADDR).
std::string FingerprintIn(const std::string& text) {
  static const std::regex print("[0-9A-F]{2}(:[0-9A-F]{2}){31}");
  std::smatch found;
  return std::regex_search(text, found, print) ? found.str() : "";
}

class RemoteClient : public ::testing::Test {
 protected:
  void SetUp() override { env_ = PrivateEnvironment(work_.path()); }
  void TearDown() override {
    if (server_) server_->Terminate();
  }

  // Runs tagwell-server with arguments to its end; its first output line.
  std::string RunServer(const std::vector<std::string>& arguments) {
    ChildProcess run(ProgramFolder() + "/tagwell-server", arguments, work_.path(), env_);
    auto line = run.ReadLine(10s, [](const std::string&) { return true; });
    EXPECT_EQ(run.Wait(10s), 0);
    return line.value_or("");
  }
  void StartServer() {
    server_ = std::make_unique<ChildProcess>(ProgramFolder() + "/tagwell-server",
                                             std::vector<std::string>{"--listen", port_},
                                             work_.path(), env_);
    ASSERT_TRUE(WaitUntil(
        [&] { return LoopbackPortListens(static_cast<std::uint16_t>(std::stoi(port_))); }, 20s))
        << "the server never listened";
  }

  TempDir work_;
  std::map<std::string, std::string> env_;
  std::string port_ = std::to_string(FreeLoopbackPort());
  std::unique_ptr<ChildProcess> server_;
};

TEST_F(RemoteClient, AuthorizedTrustedOnFirstUseAndBackWithoutAQuestion) {
  const std::string serverPrint = RunServer({"--fingerprint"});
  ASSERT_EQ(FingerprintIn(serverPrint), serverPrint);
  StartServer();
  auto client = std::make_unique<ChildProcess>(ProgramFolder() + "/tagwell_e2e_driver",
                                               std::vector<std::string>{}, work_.path(), env_);
  const std::string remote = "remote localhost:" + port_ + " " + kClsid;

  const std::string logfile = work_.File("Logfile.txt");
  auto since = [&](std::size_t from) {
    const auto& lines = client->skipped();
    return std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(from), lines.end());
  };

  // First contact, the operator says No: the server's word is not shown,
  // the refusal is logged.
  std::size_t from = client->skipped().size();
  EXPECT_EQ(client->Ask(remote), "ok connected=0");
  auto asked = Starting(since(from), "ask Remote Server connection|");
  ASSERT_EQ(asked.size(), 1u) << "the server's fingerprint is asked about first";
  EXPECT_NE(asked[0].find(serverPrint), std::string::npos) << asked[0];
  EXPECT_TRUE(Starting(since(from), "box Remote Server connection|The server at").empty());
  EXPECT_EQ(CountOf(ReadFile(logfile), "*** Connection refused: "), 1);

  // Yes, but this computer is not authorized yet: the box that says so (with
  // the certificate to authorize) comes last, on top of the usual ones.
  EXPECT_EQ(client->Ask("answer yes"), "ok");
  from = client->skipped().size();
  EXPECT_EQ(client->Ask(remote), "ok connected=0");
  auto boxes = Starting(since(from), "box ");
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(Starting(boxes, "box Remote Server connection|Error: couldn't").size(), 1u);
  EXPECT_EQ(boxes.back().rfind("box Remote Server connection|The server at", 0), 0u)
      << boxes.back();
  const std::string clientPrint = FingerprintIn(boxes.back());
  ASSERT_FALSE(clientPrint.empty()) << boxes.back();
  EXPECT_EQ(CountOf(ReadFile(logfile), "*** Connection refused: "), 2);
  EXPECT_NE(ReadFile(logfile).find(clientPrint + " is not authorized"), std::string::npos);
  EXPECT_EQ(RunServer({"--authorize", clientPrint, "e2e client"}).rfind("authorized", 0), 0u);

  // Trusted already: connected without a question.
  EXPECT_EQ(client->Ask(remote), "ok connected=1");
  EXPECT_EQ(Starting(client->skipped(), "ask ").size(), 2u);

  WriteFile(work_.File("two.xml"),
            "<ItemList>\n  <Item><Name>Boiler.Setpoint</Name></Item>\n"
            "  <Item><Name>Line1.Speed</Name></Item>\n</ItemList>\n");
  EXPECT_EQ(client->Ask("load " + work_.File("two.xml")), "ok items=2");
  EXPECT_EQ(client->Ask("cycle 0.5"), "ok cycle=0.5");
  EXPECT_EQ(client->Ask("read"), "ok");
  ASSERT_TRUE(WaitUntil([&] { return client->Ask("qualities") == "ok Good|Good|"; }, 10s));

  // The server dies and comes back with its key: the client reconnects by
  // itself and nobody is asked anything.
  ::kill(server_->pid(), SIGKILL);
  server_->Wait(5s);
  ASSERT_TRUE(WaitUntil([&] { return client->Ask("qualities") != "ok Good|Good|"; }, 10s));
  StartServer();
  ASSERT_TRUE(WaitUntil([&] { return client->Ask("qualities") == "ok Good|Good|"; }, 30s));
  EXPECT_EQ(Starting(client->skipped(), "ask ").size(), 2u);

  // Back with another key (an impostor, maybe): every attempt is refused,
  // and the log says why once for the outage.
  ::kill(server_->pid(), SIGKILL);
  server_->Wait(5s);
  const std::string key = work_.File("config/tagwell-server/server.pem");
  ASSERT_EQ(::rename(key.c_str(), (key + ".kept").c_str()), 0);
  StartServer();
  const char* kRefused = "*** Reconnection refused: ";
  ASSERT_TRUE(WaitUntil([&] { return CountOf(ReadFile(logfile), kRefused) == 1; }, 20s));
  EXPECT_NE(ReadFile(logfile).find("is not the one remembered"), std::string::npos);
  // The attempts go on every 5 s; none adds a line.
  EXPECT_FALSE(WaitUntil([&] { return CountOf(ReadFile(logfile), kRefused) > 1; }, 12s));
  ::kill(server_->pid(), SIGKILL);
  server_->Wait(5s);
  ASSERT_EQ(::rename((key + ".kept").c_str(), key.c_str()), 0);
  StartServer();
  ASSERT_TRUE(WaitUntil([&] { return client->Ask("qualities") == "ok Good|Good|"; }, 30s));
  EXPECT_EQ(CountOf(ReadFile(logfile), kRefused), 1);
  EXPECT_EQ(client->Ask("exit"), "ok");
  EXPECT_EQ(client->Wait(20s), 0);
}

}  // namespace
}  // namespace tagwell::testing
