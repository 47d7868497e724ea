// The forms of the remote computer box: which protocol, host and port each
// names, and what names nothing.
#include <gtest/gtest.h>

#include "platform/com/ComputerName.h"

namespace com {
namespace {

TEST(ComputerName, FormsChooseTheProtocol) {
  constexpr auto D = RemoteProtocol::Dcom;
  constexpr auto T = RemoteProtocol::Tagwell;
  struct Case {
    const char* text;
    RemoteProtocol protocol;
    const char* host;
    std::uint16_t port;
    const char* key;      // CredentialKey (DCOM only)
    const char* display;  // DisplayName
  } cases[] = {
      {"plc01", D, "plc01", 135, "plc01", "plc01"},
      {"\\\\PLC01 ", D, "PLC01", 135, "plc01", "PLC01"},  // UNC prefix, blanks, case
      {"10.0.0.7", D, "10.0.0.7", 135, "10.0.0.7", "10.0.0.7"},
      {"fe80::1", D, "fe80::1", 135, "fe80::1", "fe80::1"},  // bare IPv6: two colons
      {"plc01[1135]", D, "plc01", 1135, "plc01[1135]", "plc01[1135]"},
      {"ncacn_ip_tcp:plc01[1135]", D, "plc01", 1135, "plc01[1135]", "plc01[1135]"},
      {"NCACN_IP_TCP:10.1.2.3", D, "10.1.2.3", 135, "10.1.2.3", "10.1.2.3"},
      {"fe80::1[2000]", D, "fe80::1", 2000, "fe80::1[2000]", "fe80::1[2000]"},
      {"plc01:4135", T, "plc01", 4135, "", "plc01:4135"},  // the form tagwell-server had
      {"localhost:5001", T, "localhost", 5001, "", "localhost:5001"},
      {"[::1]:5001", T, "::1", 5001, "", "[::1]:5001"},
      {"tls:plc01", T, "plc01", 4135, "", "plc01:4135"},
      {"TLS:plc01:77", T, "plc01", 77, "", "plc01:77"},
      {"tls:fe80::2", T, "fe80::2", 4135, "", "[fe80::2]:4135"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ComputerAddress address;
    std::string error;
    ASSERT_TRUE(ParseComputerName(c.text, &address, &error)) << error;
    EXPECT_EQ(address.protocol, c.protocol);
    EXPECT_EQ(address.host, c.host);
    EXPECT_EQ(address.port, c.port);
    if (c.protocol == D) {
      EXPECT_EQ(CredentialKey(address), c.key);
    }
    EXPECT_EQ(DisplayName(address), c.display);
  }
  // None of these names a computer; none is tried anywhere.
  for (const char* bad : {"", "   ", "\\\\", "plc01[]", "plc01[0]", "plc01[65536]", "plc01[x]",
                          "[1135]", "plc01:", "plc01:99999", "tls:", "plc 01", "plc01;rm", "[::1",
                          "[::1]x", "-plc", "ncacn_ip_tcp:"}) {
    ComputerAddress address;
    std::string error;
    EXPECT_FALSE(ParseComputerName(bad, &address, &error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

}  // namespace
}  // namespace com
