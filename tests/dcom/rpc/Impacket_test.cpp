// impacket, an independent DCE/RPC and NTLM implementation, against the
// server: bind, calls with small and fragmented stubs at every level, and
// refused logins. tshark judges one captured session.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "tests/dcom/rpc/EchoServer.h"

namespace tagwell::dcom::test {
namespace {

constexpr const char* kPython = "/usr/bin/python3";

std::string Output(const std::string& command) {
  std::string output;
  if (std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r")) {
    char buffer[4096];
    while (std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, got);
    ::pclose(pipe);
  }
  return output;
}

bool Have(const std::string& command) {
  return Output("command -v " + command).find('/') != std::string::npos;
}

TEST(DcerpcImpacket, ImpacketTalksToTheServerAndRefusedLoginsFail) {
  if (::access(kPython, X_OK) != 0 || Output(std::string(kPython) + " -c 'import impacket'") != "")
    GTEST_SKIP() << "impacket (python3-impacket) is not installed";
  EchoServer server;
  // Capturing on loopback needs the rights to; without them the session
  // still runs, unjudged.
  bool capture = Have("tshark") && ::geteuid() == 0;
  struct Case {
    const char* user;
    const char* domain;
    const char* password;
    const char* level;
    const char* expected;
  };
  const Case cases[] = {
      {"operator", "PLANT", "Secret-1", "connect",
       "ok user=operator domain=PLANT level=2 rights=readwrite"},
      {"operator", "plant", "Secret-1", "integrity",
       "ok user=operator domain=plant level=5 rights=readwrite"},
      {"viewer", "PLANT", "Viewer-2", "privacy", "ok user=viewer domain=PLANT level=6 rights=read"},
      {"operator", "PLANT", "Wr0ng-pw", "integrity", "refused: rpc_s_access_denied"},
      {"nobody", "PLANT", "Secret-1", "privacy", "refused: rpc_s_access_denied"},
  };
  for (const Case& c : cases) {
    bool judged = capture && std::string(c.level) == "privacy" && std::string(c.user) == "viewer";
    std::string command = std::string(kPython) + " " + TAGWELL_DCERPC_PEER + " " +
                          std::to_string(server.port()) + " " + c.user + " " + c.domain + " " +
                          c.password + " " + c.level;
    if (judged) command += " " + server.folder() + "/session.pcapng";
    std::string output = Output(command);
    EXPECT_EQ(output.rfind(c.expected, 0), 0u) << c.user << " " << c.level << ":\n" << output;
    if (judged) {
      EXPECT_NE(output.find("capture: clean"), std::string::npos) << output;
    }
  }
  EXPECT_NE(server.Log().find("refused the login of PLANT\\operator from 127.0.0.1:"),
            std::string::npos);
  EXPECT_NE(server.Log().find("refused the login of PLANT\\nobody from 127.0.0.1:"),
            std::string::npos);
}

}  // namespace
}  // namespace tagwell::dcom::test
