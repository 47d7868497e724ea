// What the remote computer box names: a computer reached over DCOM (the
// Windows way) or a tagwell-server reached over TLS. The form alone decides;
// nothing is tried over one protocol and then over the other.
//
//   plc01, \\plc01, 10.0.0.7, fe80::1      DCOM, the resolver on port 135
//   plc01[1135], ncacn_ip_tcp:plc01[1135]  DCOM, the resolver on port 1135
//   plc01:4135, [fe80::1]:4135             tagwell-server over TLS on that port
//   tls:plc01, tls:plc01:5000              tagwell-server over TLS (4135 by default)
//
// "[PORT]" is how DCE string bindings write an endpoint; "HOST:PORT" is the
// form tagwell-server has always been reached by.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace com {

enum class RemoteProtocol { Dcom, Tagwell };

inline constexpr std::uint16_t kDcomResolverPort = 135;
inline constexpr std::uint16_t kTagwellRemotePort = 4135;

struct ComputerAddress {
  RemoteProtocol protocol = RemoteProtocol::Dcom;
  std::string host;  // a name, an IPv4 address or an IPv6 address (no brackets)
  std::uint16_t port = kDcomResolverPort;
};

// Parses the box's text (leading "\\" and surrounding blanks are dropped).
// False with the reason in *error for text that names no computer.
bool ParseComputerName(std::string_view text, ComputerAddress* address, std::string* error);

// The computer as credentials are kept for it: the host in lower case, with
// "[PORT]" when the resolver is not on 135. Tagwell's TLS form never needs one.
std::string CredentialKey(const ComputerAddress& address);

// The computer as the log and boxes show it ("plc01", "plc01[1135]",
// "plc01:4135").
std::string DisplayName(const ComputerAddress& address);

}  // namespace com
