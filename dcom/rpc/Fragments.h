// The request and response PDUs of one call as fragments on the wire, with
// the auth verifier of the connection's security level: split and protected
// when sent, checked and unsealed when received. Shared by both sides.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "dcom/rpc/Ntlm.h"
#include "dcom/rpc/Pdu.h"

namespace tagwell::dcom {

// What a connection's calls carry. From the packet level up every PDU is
// signed: NTLMv2 checksums every buffer it is given, so packet and packet
// integrity look the same on the wire; packet privacy also seals.
struct CallSecurity {
  AuthLevel level = AuthLevel::None;
  std::uint32_t contextId = 0;  // the auth_context_id of the verifiers
  ntlm::Session* session = nullptr;

  bool Signs() const { return session && level >= AuthLevel::Packet; }
};

// The fragments of one request (type Request; object may be null) or
// response (type Response; opnum and object ignored), none larger than
// maxFragment.
std::vector<Bytes> MakeFragments(PduType type, std::uint32_t callId, std::uint16_t contextId,
                                 std::uint16_t opnum, const com::GUID* object, ByteView stub,
                                 std::uint16_t maxFragment, CallSecurity& security);

// Checks the verifier of a received request or response fragment and
// unseals it in place. The fragment's stub (inside pdu) or nullopt with the
// reason in *why.
std::optional<ByteView> OpenFragment(Bytes& pdu, CallSecurity& security, std::string* why);

}  // namespace tagwell::dcom
