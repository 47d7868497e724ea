// The seam between the DCE/RPC transport (connections, PDUs, NTLM) and what
// answers its calls (the DCOM runtime and the OPC DA stubs).
//
// The transport owns sockets, fragments and authentication; it hands each
// complete, verified and unsealed request to a Dispatcher and sends back what
// the Dispatcher answers, sealed and fragmented as the connection needs.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/com/Types.h"

namespace tagwell::dcom {

// RPC_C_AUTHN_LEVEL_* as they travel in the auth verifier.
enum class AuthLevel : std::uint8_t {
  None = 1,
  Connect = 2,
  Call = 3,
  Packet = 4,
  PacketIntegrity = 5,
  PacketPrivacy = 6,
};

// An abstract or transfer syntax: an interface UUID and its version.
struct SyntaxId {
  com::GUID uuid{};
  std::uint16_t major = 0;
  std::uint16_t minor = 0;
};

// Who calls, as the transport established it for the connection.
struct Caller {
  AuthLevel level = AuthLevel::None;  // None: no auth verifier was bound
  std::string user;                   // the NTLM user name, UTF-8; empty when anonymous
  std::string domain;
  bool readOnly = true;               // the account's rights; true for anonymous callers
  std::string address;                // the peer, "ADDRESS:PORT"
  std::uint32_t associationGroup = 0;
};

struct Request {
  const Caller& caller;
  SyntaxId interface;                 // the abstract syntax of the call's presentation context
  std::uint16_t opnum = 0;
  bool hasObject = false;             // PFC_OBJECT_UUID was set
  com::GUID object{};                 // for DCOM calls: the IPID
  std::span<const std::uint8_t> stub; // the complete stub data, NDR 2.0 little-endian
};

struct Response {
  // Non-zero: answer with a fault PDU carrying this status (an nca_s_* code
  // or an HRESULT, as Windows puts them there); stub is then ignored.
  std::uint32_t fault = 0;
  std::vector<std::uint8_t> stub;
};

// Implemented by the DCOM runtime. Thread rule: the transport may call from
// several threads at once (one per connection); an implementation serialises
// what needs it. Call may block for as long as the object takes, but never
// holds up calls of other connections on the transport's side.
class Dispatcher {
 public:
  virtual ~Dispatcher() = default;
  // Whether a bind or alter_context may name this abstract syntax.
  virtual bool Supports(const SyntaxId& abstract) const = 0;
  // Answers one complete request.
  virtual Response Call(const Request& request) = 0;
  // The last connection of an association group has closed.
  virtual void AssociationGroupClosed(std::uint32_t group) = 0;
};

}  // namespace tagwell::dcom
