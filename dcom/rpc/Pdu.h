// The connection-oriented DCE/RPC PDUs (ncacn_ip_tcp, version 5.0): the
// common header, the bodies of the PDUs this transport exchanges, and the
// auth verifier (sec_trailer and auth value) at a PDU's end.
//
// Readers take one whole PDU (frag_length bytes) and check every length,
// count and offset against it; they return nullopt for anything malformed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dcom/rpc/Dispatch.h"
#include "dcom/rpc/Wire.h"

namespace tagwell::dcom {

enum class PduType : std::uint8_t {
  Request = 0,
  Response = 2,
  Fault = 3,
  Bind = 11,
  BindAck = 12,
  BindNak = 13,
  AlterContext = 14,
  AlterContextResp = 15,
  Auth3 = 16,
  Shutdown = 17,
  CoCancel = 18,
  Orphaned = 19,
};

// pfc_flags.
constexpr std::uint8_t kPfcFirstFrag = 0x01;
constexpr std::uint8_t kPfcLastFrag = 0x02;
constexpr std::uint8_t kPfcSupportHeaderSign = 0x04;  // in bind, bind_ack, alter_context(_resp)
constexpr std::uint8_t kPfcConcMpx = 0x10;
constexpr std::uint8_t kPfcDidNotExecute = 0x20;
constexpr std::uint8_t kPfcMaybe = 0x40;
constexpr std::uint8_t kPfcObjectUuid = 0x80;

constexpr std::size_t kHeaderSize = 16;
constexpr std::size_t kSecTrailerSize = 8;
constexpr std::uint8_t kAuthTypeNtlm = 10;  // RPC_C_AUTHN_WINNT
// A fragment's smallest and largest size: the smallest max_xmit_frag a
// peer must accept, and what fits frag_length.
constexpr std::uint16_t kMinFragment = 1432;
constexpr std::uint16_t kDefaultFragment = 5840;

// Fault and reject statuses as Windows sends them.
constexpr std::uint32_t kFaultOpRangeError = 0x1c010002;      // nca_s_op_rng_error
constexpr std::uint32_t kFaultUnknownInterface = 0x1c010003;  // nca_s_unk_if
constexpr std::uint32_t kFaultProtocolError = 0x1c01000b;     // nca_s_proto_error
constexpr std::uint32_t kFaultAccessDenied = 5;               // ERROR_ACCESS_DENIED
constexpr std::uint32_t kFaultSecurityPackage = 0x721;        // RPC_S_SEC_PKG_ERROR: a bad verifier

// bind_nak provider_reject_reason.
enum class RejectReason : std::uint16_t {
  NotSpecified = 0,
  TemporaryCongestion = 1,
  LocalLimitExceeded = 2,
  ProtocolVersionNotSupported = 4,
  AuthenticationTypeNotRecognized = 8,
  InvalidChecksum = 9,
};

// p_cont_def_result_t and the reasons of a refused context.
constexpr std::uint16_t kResultAcceptance = 0;
constexpr std::uint16_t kResultProviderRejection = 2;
constexpr std::uint16_t kResultNegotiateAck = 3;
constexpr std::uint16_t kReasonAbstractSyntaxNotSupported = 1;
constexpr std::uint16_t kReasonTransferSyntaxesNotSupported = 2;

// Bind-time feature negotiation bits (the last two bytes of the offered
// pseudo transfer syntax's UUID, and the reason of the negotiate_ack).
constexpr std::uint16_t kFeatureSecurityContextMultiplexing = 0x0001;
constexpr std::uint16_t kFeatureKeepConnectionOnOrphan = 0x0002;

// NDR 2.0: 8a885d04-1ceb-11c9-9fe8-08002b104860 version 2.0.
SyntaxId Ndr20Syntax();
// The bind-time feature negotiation syntax offering features (version 1.0).
SyntaxId FeatureNegotiationSyntax(std::uint16_t features);
// The features a bind-time feature negotiation syntax offers; nullopt when
// syntax is not one.
std::optional<std::uint16_t> OfferedFeatures(const SyntaxId& syntax);
bool SameSyntax(const SyntaxId& a, const SyntaxId& b);
std::string GuidText(const com::GUID& guid);

struct PduHeader {
  PduType type = PduType::Request;
  std::uint8_t flags = 0;
  std::uint16_t fragLength = 0;
  std::uint16_t authLength = 0;
  std::uint32_t callId = 0;
};

// The header of the first 16 bytes: version 5.0, little-endian ASCII IEEE
// data representation, frag_length at least 16 and room for auth_length.
std::optional<PduHeader> ReadHeader(ByteView bytes);

struct SecTrailer {
  std::uint8_t authType = kAuthTypeNtlm;
  AuthLevel level = AuthLevel::Connect;
  std::uint8_t padLength = 0;
  std::uint32_t contextId = 0;
};

// A whole PDU split in its parts.
struct PduParts {
  PduHeader header;
  ByteView body;    // after the header, up to the auth pad (or the end)
  ByteView padded;  // the body with the auth pad
  std::optional<SecTrailer> trailer;
  ByteView authValue;             // auth_length bytes
  std::size_t trailerOffset = 0;  // where the sec_trailer starts in the PDU
};

// Splits a whole PDU (exactly frag_length bytes); nullopt when the lengths
// contradict each other. The parts view into pdu, which must outlive them.
std::optional<PduParts> SplitPdu(ByteView pdu);

struct ContextElement {
  std::uint16_t id = 0;
  SyntaxId abstract;
  std::vector<SyntaxId> transfers;
};

// bind and alter_context.
struct BindBody {
  std::uint16_t maxXmitFrag = kDefaultFragment;
  std::uint16_t maxRecvFrag = kDefaultFragment;
  std::uint32_t assocGroup = 0;
  std::vector<ContextElement> contexts;
};
std::optional<BindBody> ReadBind(ByteView body);
Bytes WriteBindBody(const BindBody& bind);

struct ContextResult {
  std::uint16_t result = kResultAcceptance;
  std::uint16_t reason = 0;
  SyntaxId transfer;
};

// bind_ack and alter_context_resp.
struct BindAckBody {
  std::uint16_t maxXmitFrag = kDefaultFragment;
  std::uint16_t maxRecvFrag = kDefaultFragment;
  std::uint32_t assocGroup = 0;
  std::string secondaryAddress;  // the port, "135" style; empty in alter_context_resp
  std::vector<ContextResult> results;
};
std::optional<BindAckBody> ReadBindAck(ByteView body);
Bytes WriteBindAckBody(const BindAckBody& ack);

struct RequestBody {
  std::uint32_t allocHint = 0;
  std::uint16_t contextId = 0;
  std::uint16_t opnum = 0;
  bool hasObject = false;
  com::GUID object{};
  ByteView stub;
};
std::optional<RequestBody> ReadRequest(const PduParts& parts);

struct ResponseBody {
  std::uint32_t allocHint = 0;
  std::uint16_t contextId = 0;
  ByteView stub;
};
std::optional<ResponseBody> ReadResponse(const PduParts& parts);

// The status of a fault PDU.
std::optional<std::uint32_t> ReadFault(const PduParts& parts);
// The reject reason of a bind_nak.
std::optional<std::uint16_t> ReadBindNak(const PduParts& parts);

// Where the verification trailer (rpc_sec_verification_trailer and its
// commands) that Windows clients append to a request's stub begins:
// a 4-aligned signature whose commands end, the last marked as such, at the
// stub's end; stub.size() when there is none.
std::size_t VerificationTrailerStart(ByteView stub);

// A PDU without verifier: header and body; frag_length filled in.
Bytes WritePdu(PduType type, std::uint8_t flags, std::uint32_t callId, ByteView body);
// A PDU with a verifier: body, the pad to a multiple of 4, the sec_trailer
// and authValueLength bytes of auth value (zeros, or authValue when given);
// frag_length, auth_length and auth_pad_length filled in. The auth value
// starts at size() - authValueLength.
Bytes WritePdu(PduType type, std::uint8_t flags, std::uint32_t callId, ByteView body,
               SecTrailer trailer, ByteView authValue, std::size_t authValueLength);
Bytes WriteFault(std::uint32_t callId, std::uint16_t contextId, std::uint32_t status,
                 bool didNotExecute);
Bytes WriteBindNak(std::uint32_t callId, RejectReason reason);
// The first 8 bytes of a request or response body (alloc_hint, p_cont_id,
// opnum or cancel_count) and, for a request with an object, its UUID.
Bytes RequestHeader(std::uint32_t allocHint, std::uint16_t contextId, std::uint16_t opnum,
                    const com::GUID* object);
Bytes ResponseHeader(std::uint32_t allocHint, std::uint16_t contextId);

}  // namespace tagwell::dcom
