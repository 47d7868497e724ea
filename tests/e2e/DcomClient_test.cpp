// The real window against tagwell-server's DCOM face on loopback: the
// account asked once and remembered,
// connect by CLSID and by ProgID, the server box's choices, items loaded,
// read, written and recorded into SQLite, a server killed under a 0.5-s
// cycle and back by itself with one box, Disconnect, and the refused
// account's boxes, with nothing secret in the log.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>

#include "tests/e2e/Process.h"
#include "tests/support/Ports.h"
#include "tests/support/TempDir.h"

namespace tagwell::testing {
namespace {

using namespace std::chrono_literals;

const std::string kClsid = "{6E0C5A1D-3B7F-4C2E-9A41-2F8D7B1C9E53}";

class DcomClient : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = PrivateEnvironment(work_.path());
    // The server computer's account (the NT hash is that of "password").
    ::mkdir(work_.File("config/tagwell-server").c_str(), 0700);
    const std::string accounts = work_.File("config/tagwell-server/dcom-accounts");
    Shell("printf 'PLANT\\\\op 8846F7EAEE8FB117AD06BDD830B7586C readwrite\\n' > '" + accounts +
          "' && chmod 600 '" + accounts + "'");
  }
  void TearDown() override {
    if (peer_) peer_->Terminate();
  }
  void StartPeer() {
    peer_ = std::make_unique<ChildProcess>(ProgramFolder() + "/tagwell-server",
                                           std::vector<std::string>{"--dcom", "127.0.0.1:" + port_},
                                           work_.path(), env_);
    ASSERT_TRUE(WaitUntil(
        [&] {
          return Shell("timeout 1 bash -c 'exec 3<>/dev/tcp/127.0.0.1/" + port_ +
                       "' 2>/dev/null && echo up") == "up\n";
        },
        20s))
        << "tagwell-server never served DCOM";
  }
  std::unique_ptr<ChildProcess> Window() {
    return std::make_unique<ChildProcess>(ProgramFolder() + "/tagwell_e2e_driver",
                                          std::vector<std::string>{}, work_.path(), env_);
  }
  std::string Computer() const { return "127.0.0.1[" + port_ + "]"; }

  TempDir work_;
  std::map<std::string, std::string> env_;
  std::string port_ = std::to_string(FreeLoopbackPort());
  std::unique_ptr<ChildProcess> peer_;
};

TEST_F(DcomClient, SessionOutageAndBackWithTheRememberedAccount) {
  StartPeer();
  auto window = Window();
  // The NT hash above is that of "password".
  EXPECT_EQ(window->Ask("account op PLANT password remember"), "ok");
  EXPECT_EQ(window->Ask("remote " + Computer() + " " + kClsid), "ok connected=1");
  EXPECT_EQ(Starting(window->skipped(), "logon " + Computer() + "|").size(), 1u);
  EXPECT_EQ(window->Ask("choices"), "ok Tagwell.Simulation.1|");
  struct stat info {};
  ASSERT_EQ(::stat(work_.File("config/tagwell/credentials").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  WriteFile(work_.File("two.xml"),
            "<ItemList>\n  <Item><Name>Boiler.Setpoint</Name></Item>\n"
            "  <Item><Name>Line1.Speed</Name></Item>\n</ItemList>\n");
  Shell("sqlite3 '" + work_.File("plant.db") + "' < '" + std::string(TAGWELL_SOURCE) +
        "/db/OPCvalues.sql'");
  EXPECT_EQ(window->Ask("load " + work_.File("two.xml")), "ok items=2");
  EXPECT_EQ(window->Ask("database " + work_.File("plant.db")), "ok writing=1");
  EXPECT_EQ(window->Ask("cycle 0.5"), "ok cycle=0.5");
  EXPECT_EQ(window->Ask("read"), "ok");
  ASSERT_TRUE(WaitUntil([&] { return window->Ask("qualities") == "ok Good|Good|"; }, 10s));
  EXPECT_EQ(window->Ask("select 0"), "ok row=0");
  EXPECT_EQ(window->Ask("write 61.5"), "ok");
  auto rows = [&] {
    return std::atoi(
        Shell("sqlite3 '" + work_.File("plant.db") + "' 'SELECT count(*) FROM OPCvalues'").c_str());
  };
  ASSERT_TRUE(WaitUntil([&] { return rows() >= 4; }, 10s));
  EXPECT_NE(Shell("sqlite3 '" + work_.File("plant.db") +
                  "' \"SELECT count(*) FROM OPCvalues WHERE Value LIKE '61.5%'\""),
            "0\n");

  // Killed under the 0.5-s cycle: Bad rows and one box; back by itself.
  ::kill(peer_->pid(), SIGKILL);
  peer_->Wait(5s);
  ASSERT_TRUE(WaitUntil(
      [&] {
        return window->Ask("qualities") ==
               "ok Bad - communication error|Bad - communication error|";
      },
      10s));
  StartPeer();
  ASSERT_TRUE(WaitUntil([&] { return window->Ask("qualities") == "ok Good|Good|"; }, 30s));
  EXPECT_EQ(Starting(window->skipped(), "box OPC server connection|").size(), 1u);
  EXPECT_EQ(Starting(window->skipped(), "logon ").size(), 1u) << "a reconnection never asks";
  EXPECT_EQ(window->Ask("disconnect"), "ok");

  // A second window of this user: the remembered account, by ProgID.
  auto again = Window();
  EXPECT_EQ(again->Ask("remote " + Computer() + " Tagwell.Simulation.1"), "ok connected=1");
  EXPECT_TRUE(Starting(again->skipped(), "logon ").empty());
  EXPECT_EQ(again->Ask("disconnect"), "ok");
  const std::string log = ReadFile(work_.File("Logfile.txt"));
  EXPECT_EQ(log.find("password"), std::string::npos);
  EXPECT_NE(log.find("the account PLANT\\op is remembered in the file"), std::string::npos);
}

TEST_F(DcomClient, RefusedAccountsGiveTheirBoxes) {
  StartPeer();
  struct Case {
    const char* account;
  } cases[] = {{"account op PLANT Wr0ng once"}, {"account nobody PLANT password once"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.account);
    auto window = Window();
    EXPECT_EQ(window->Ask(c.account), "ok");
    EXPECT_EQ(window->Ask("remote " + Computer() + " " + kClsid), "ok connected=0");
    // Asked at Enter, again once after the refusal (cancelled), and again once at Connect.
    EXPECT_GE(Starting(window->skipped(), "logon ").size(), 2u);
    EXPECT_EQ(
        Starting(window->skipped(),
                 "box Remote Server connection|Access denied by the computer " + Computer() + ".")
            .size(),
        1u);
  }
  const std::string log = ReadFile(work_.File("Logfile.txt"));
  EXPECT_NE(log.find("*** Remote computer " + Computer() + ": access denied (0x80070005)\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("Wr0ng"), std::string::npos);
}

// tshark reads the client's side of a session: nothing malformed, and every
// call after the binds at packet privacy (auth level 6).
TEST_F(DcomClient, TsharkSeesPacketPrivacyOnEveryCall) {
  if (::geteuid() != 0 || Shell("command -v tshark").empty())
    GTEST_SKIP() << "needs tshark as root";
  StartPeer();
  const std::string capture = work_.File("session.pcapng");
  // tshark's lines go to a file, not a pipe: a pipe nobody reads while the
  // session runs fills up and stalls the capture.
  const std::string lines = work_.File("packets.txt");
  ChildProcess tshark("/bin/sh",
                      {"-c", "exec /usr/bin/tshark -l -P -i lo -f 'tcp port " + port_ + "' -w '" +
                                 capture + "' > '" + lines + "'"},
                      work_.path(), env_);
  // Connects until tshark shows the packets: everything before is captured.
  auto seen = [&] {
    const auto shown = [&] {
      const std::string text = ReadFile(lines);
      return std::count(text.begin(), text.end(), '\n');
    };
    const auto before = shown();
    Shell("timeout 1 bash -c 'exec 3<>/dev/tcp/127.0.0.1/" + port_ + "' 2>/dev/null; true");
    return WaitUntil([&] { return shown() > before; }, 300ms);
  };
  ASSERT_TRUE(WaitUntil(seen, 20s)) << "tshark never captured";
  auto window = Window();
  EXPECT_EQ(window->Ask("account op PLANT password once"), "ok");
  EXPECT_EQ(window->Ask("remote " + Computer() + " Tagwell.Simulation.1"), "ok connected=1");
  WriteFile(work_.File("one.xml"),
            "<ItemList><Item><Name>Boiler.Setpoint</Name></Item></ItemList>\n");
  EXPECT_EQ(window->Ask("load " + work_.File("one.xml")), "ok items=1");
  EXPECT_EQ(window->Ask("disconnect"), "ok");
  EXPECT_EQ(window->Ask("exit"), "ok");
  window->Wait(10s);
  ASSERT_TRUE(WaitUntil(seen, 20s));
  tshark.Terminate();
  tshark.Wait(10s);

  const std::string decode = "-d tcp.port==" + port_ + ",dcerpc";
  EXPECT_EQ(Shell("tshark -r '" + capture + "' " + decode +
                  " -Y '_ws.malformed || _ws.expert.severity == error' 2>/dev/null"),
            "");
  // Requests (type 0) by their authentication level.
  const std::string levels = Shell("tshark -r '" + capture + "' " + decode +
                                   " -Y 'dcerpc.pkt_type == 0' -T fields -e dcerpc.auth_level "
                                   "| sort | uniq -c");
  EXPECT_NE(levels.find(" 6\n"), std::string::npos) << levels;
  EXPECT_EQ(levels.find_first_of("012345", levels.find_first_not_of(" 0123456789")),
            std::string::npos)
      << "a request below packet privacy:\n"
      << levels;
  const std::string binds = Shell("tshark -r '" + capture + "' " + decode +
                                  " -Y 'dcerpc.pkt_type == 11' -T fields -e dcerpc.auth_level "
                                  "| sort -u");
  EXPECT_EQ(binds, "6\n") << "every bind asks for packet privacy";
}

}  // namespace
}  // namespace tagwell::testing
