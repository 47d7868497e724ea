// The transport's own client against its server, and the accounts file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "dcom/rpc/Client.h"
#include "tests/dcom/rpc/EchoServer.h"

namespace tagwell::dcom::test {
namespace {

using std::chrono::seconds;

std::string Text(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

Bytes Pattern(std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  return bytes;
}

ClientAuth Login(AuthLevel level, std::string user = "operator", std::string password = "Secret-1",
                 std::string domain = "PLANT") {
  return ClientAuth{level, user, domain, password, std::nullopt, "WS1"};
}

// Every level: small and fragmented calls both ways, an object UUID, a
// second interface by alter_context, the caller the runtime sees, and
// faults for an unknown opnum and an unbound context.
TEST(DcerpcTransport, ClientAndServerAgreeAtEveryLevel) {
  EchoServer server;
  const AuthLevel levels[] = {AuthLevel::None, AuthLevel::Connect, AuthLevel::Packet,
                              AuthLevel::PacketIntegrity, AuthLevel::PacketPrivacy};
  for (AuthLevel level : levels) {
    SCOPED_TRACE(static_cast<int>(level));
    ClientConnection client;
    std::string error;
    ASSERT_TRUE(client.Connect("127.0.0.1", server.port(), seconds(5), &error)) << error;
    ASSERT_TRUE(client.Bind(EchoInterface(), Login(level), seconds(5), &error)) << error;
    for (std::size_t size : {std::size_t{0}, std::size_t{5}, std::size_t{70000}}) {
      CallResult echo = client.Call(0, nullptr, Pattern(size), seconds(5));
      ASSERT_TRUE(echo.ok) << echo.error;
      EXPECT_EQ(echo.stub, Pattern(size)) << size;
    }
    com::GUID object{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    EXPECT_EQ(Text(client.Call(0, &object, Bytes{'o', 'b'}, seconds(5)).stub), "ob");
    Bytes large{0x20, 0xa1, 0x07, 0x00};  // 500000 bytes back
    EXPECT_EQ(client.Call(2, nullptr, large, seconds(5)).stub.size(), 500000u);
    std::uint16_t second = 0;
    ASSERT_TRUE(client.AlterContext(SecondInterface(), seconds(5), &second, &error)) << error;
    std::string expected =
        level == AuthLevel::None
            ? "user= domain= level=1 rights=read interface=second"
            : "user=operator domain=PLANT level=" + std::to_string(static_cast<int>(level)) +
                  " rights=readwrite interface=second";
    EXPECT_EQ(Text(client.Call(1, nullptr, {}, seconds(5), second).stub), expected);
    EXPECT_EQ(client.Call(9, nullptr, {}, seconds(5)).fault, kFaultOpRangeError);
    EXPECT_EQ(client.Call(0, nullptr, {}, seconds(5), 77).fault, kFaultUnknownInterface);
  }
}

// Refused logins: one log line each naming user, domain and address, never
// a secret; the refused connection's call gets access denied.
TEST(DcerpcTransport, RefusedLoginsAreDeniedAndLogged) {
  EchoServer server;
  struct Case {
    ClientAuth auth;
    std::uint32_t fault;
    const char* logged;
  };
  const Case cases[] = {
      {Login(AuthLevel::PacketIntegrity, "operator", "Wr0ng-pw"), kFaultAccessDenied,
       "refused the login of PLANT\\operator from 127.0.0.1:"},
      {Login(AuthLevel::PacketPrivacy, "nobody", "Secret-1"), kFaultAccessDenied,
       "refused the login of PLANT\\nobody from 127.0.0.1:"},
      {Login(AuthLevel::Connect, "Viewer", "Viewer-2", "plant"), 0, "plant\\Viewer logged in"},
      {Login(AuthLevel::PacketIntegrity, "viewer", "Viewer-2", "."), 0, ".\\viewer logged in"},
      {Login(AuthLevel::PacketIntegrity, "viewer", "Viewer-2", "OTHER"), kFaultAccessDenied,
       "refused the login of OTHER\\viewer"},
  };
  for (const Case& c : cases) {
    ClientConnection client;
    std::string error;
    ASSERT_TRUE(client.Connect("127.0.0.1", server.port(), seconds(5), &error)) << error;
    ASSERT_TRUE(client.Bind(EchoInterface(), c.auth, seconds(5), &error)) << error;
    CallResult result = client.Call(0, nullptr, Bytes{1}, seconds(5));
    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.fault, c.fault) << c.logged;
    EXPECT_NE(server.Log().find(c.logged), std::string::npos) << server.Log();
  }
  std::string log = server.Log();
  for (const std::string& secret :
       {std::string("Secret-1"), std::string("Wr0ng-pw"), HexText(ntlm::NtHash("Secret-1"))})
    EXPECT_EQ(log.find(secret), std::string::npos) << secret;
}

// The accounts file: what is read, what is refused, and how logins match.
TEST(DcerpcTransport, AccountsFileReadsRefusesAndMatches) {
  EchoServer server;  // for its private folder
  std::string path = server.folder() + "/accounts";
  std::string hash = HexText(ntlm::NtHash("pw"));
  std::ofstream(path) << "# comment\n\nWORKS\\ann " << hash << " read\n"
                      << "OTHER\\ann " << hash << " readwrite\n"
                      << "noslash " << hash << " read\n"
                      << "D\\bob 1234 read\n"
                      << "D\\carl " << hash << " admin\n";
  ::chmod(path.c_str(), 0640);
  std::vector<std::string> problems;
  EXPECT_TRUE(ReadDcomAccounts(path, &problems).empty());
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("chmod 600"), std::string::npos);
  ::chmod(path.c_str(), 0600);
  problems.clear();
  auto accounts = ReadDcomAccounts(path, &problems);
  ASSERT_EQ(accounts.size(), 2u);
  EXPECT_EQ(problems.size(), 3u);
  EXPECT_NE(problems[0].find(path + ":5: "), std::string::npos) << problems[0];

  struct Match {
    const char* user;
    const char* domain;
    const char* found;  // the domain matched, "" for none
  };
  // ann is in two domains, so a local login cannot pick one; carl in one.
  accounts.push_back({"D", "carl", {}, true});
  const Match matches[] = {
      {"ANN", "works", "WORKS"}, {"ann", "OTHER", "OTHER"}, {"ann", "", ""},    {"ann", ".", ""},
      {"ann", "ELSE", ""},       {"bob", "D", ""},          {"carl", ".", "D"}, {"Carl", "", "D"},
      {"carl", "host", "D"},     {"carl", "E", ""}};
  for (const Match& m : matches) {
    std::string why;
    auto account = FindDcomAccount(accounts, m.user, m.domain, &why, "HOST");
    EXPECT_EQ(account ? account->domain : "", m.found) << m.user << "@" << m.domain << " " << why;
  }

  std::string error;
  ASSERT_TRUE(AddDcomAccount(path, "works\\ANN", "new", false, &error)) << error;
  accounts = ReadDcomAccounts(path, &problems);
  ASSERT_EQ(accounts.size(), 2u);
  EXPECT_EQ(accounts[1].ntHash, ntlm::NtHash("new"));
  EXPECT_FALSE(accounts[1].readOnly);
  struct stat status {};
  ::stat(path.c_str(), &status);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  EXPECT_FALSE(AddDcomAccount(path, "nodomain", "x", true, &error));
}

}  // namespace
}  // namespace tagwell::dcom::test
