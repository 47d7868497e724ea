#include "dcom/rpc/Pdu.h"

#include <algorithm>
#include <cstdio>

namespace tagwell::dcom {

namespace {

constexpr com::GUID kNdr20{
    0x8a885d04, 0x1ceb, 0x11c9, {0x9f, 0xe8, 0x08, 0x00, 0x2b, 0x10, 0x48, 0x60}};
constexpr com::GUID kFeatureNegotiation{0x6cb71c2c, 0x9812, 0x4540, {0, 0, 0, 0, 0, 0, 0, 0}};

SyntaxId ReadSyntax(ByteReader& in) {
  SyntaxId syntax;
  syntax.uuid = in.Guid();
  syntax.major = in.U16();
  syntax.minor = in.U16();
  return syntax;
}

void WriteSyntax(ByteWriter& out, const SyntaxId& syntax) {
  out.Guid(syntax.uuid);
  out.U16(syntax.major);
  out.U16(syntax.minor);
}

void WriteHeader(ByteWriter& out, PduType type, std::uint8_t flags, std::uint32_t callId) {
  out.U8(5);
  out.U8(0);
  out.U8(static_cast<std::uint8_t>(type));
  out.U8(flags);
  out.U32(0x00000010);  // little-endian, ASCII, IEEE
  out.U16(0);           // frag_length, set at the end
  out.U16(0);           // auth_length
  out.U32(callId);
}

}  // namespace

SyntaxId Ndr20Syntax() {
  return SyntaxId{kNdr20, 2, 0};
}

SyntaxId FeatureNegotiationSyntax(std::uint16_t features) {
  SyntaxId syntax{kFeatureNegotiation, 1, 0};
  syntax.uuid.Data4[0] = static_cast<std::uint8_t>(features);
  syntax.uuid.Data4[1] = static_cast<std::uint8_t>(features >> 8);
  return syntax;
}

std::optional<std::uint16_t> OfferedFeatures(const SyntaxId& syntax) {
  const com::GUID& id = syntax.uuid;
  if (id.Data1 != kFeatureNegotiation.Data1 || id.Data2 != kFeatureNegotiation.Data2 ||
      id.Data3 != kFeatureNegotiation.Data3)
    return std::nullopt;
  for (int i = 2; i < 8; ++i)
    if (id.Data4[i] != 0) return std::nullopt;
  return static_cast<std::uint16_t>(id.Data4[0] | (id.Data4[1] << 8));
}

bool SameSyntax(const SyntaxId& a, const SyntaxId& b) {
  return a.uuid == b.uuid && a.major == b.major && a.minor == b.minor;
}

std::string GuidText(const com::GUID& g) {
  char text[40];
  std::snprintf(text, sizeof text, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", g.Data1,
                g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

std::optional<PduHeader> ReadHeader(ByteView bytes) {
  ByteReader in(bytes);
  std::uint8_t version = in.U8();
  std::uint8_t minor = in.U8();
  PduHeader header;
  header.type = static_cast<PduType>(in.U8());
  header.flags = in.U8();
  std::uint8_t integerAndCharacters = in.U8();
  std::uint8_t floating = in.U8();
  in.Skip(2);
  header.fragLength = in.U16();
  header.authLength = in.U16();
  header.callId = in.U32();
  if (!in.ok() || version != 5 || minor > 1) return std::nullopt;
  if (integerAndCharacters != 0x10 || floating != 0) return std::nullopt;
  if (header.fragLength < kHeaderSize) return std::nullopt;
  if (header.authLength &&
      std::size_t{header.authLength} + kSecTrailerSize > header.fragLength - kHeaderSize)
    return std::nullopt;
  return header;
}

std::optional<PduParts> SplitPdu(ByteView pdu) {
  auto header = ReadHeader(pdu);
  if (!header || pdu.size() != header->fragLength) return std::nullopt;
  PduParts parts;
  parts.header = *header;
  if (header->authLength == 0) {
    parts.body = parts.padded = pdu.subspan(kHeaderSize);
    parts.trailerOffset = pdu.size();
    return parts;
  }
  parts.trailerOffset = pdu.size() - header->authLength - kSecTrailerSize;
  ByteReader in(pdu.subspan(parts.trailerOffset));
  SecTrailer trailer;
  trailer.authType = in.U8();
  trailer.level = static_cast<AuthLevel>(in.U8());
  trailer.padLength = in.U8();
  in.Skip(1);
  trailer.contextId = in.U32();
  parts.authValue = in.Take(header->authLength);
  if (!in.ok() || trailer.padLength > parts.trailerOffset - kHeaderSize) return std::nullopt;
  parts.trailer = trailer;
  parts.padded = pdu.subspan(kHeaderSize, parts.trailerOffset - kHeaderSize);
  parts.body = parts.padded.first(parts.padded.size() - trailer.padLength);
  return parts;
}

std::optional<BindBody> ReadBind(ByteView body) {
  ByteReader in(body);
  BindBody bind;
  bind.maxXmitFrag = in.U16();
  bind.maxRecvFrag = in.U16();
  bind.assocGroup = in.U32();
  std::uint8_t count = in.U8();
  in.Skip(3);
  for (std::uint8_t i = 0; i < count && in.ok(); ++i) {
    ContextElement element;
    element.id = in.U16();
    std::uint8_t transfers = in.U8();
    in.Skip(1);
    element.abstract = ReadSyntax(in);
    for (std::uint8_t t = 0; t < transfers && in.ok(); ++t)
      element.transfers.push_back(ReadSyntax(in));
    bind.contexts.push_back(std::move(element));
  }
  if (!in.ok()) return std::nullopt;
  return bind;
}

Bytes WriteBindBody(const BindBody& bind) {
  ByteWriter out;
  out.U16(bind.maxXmitFrag);
  out.U16(bind.maxRecvFrag);
  out.U32(bind.assocGroup);
  out.U8(static_cast<std::uint8_t>(bind.contexts.size()));
  out.Zeros(3);
  for (const ContextElement& element : bind.contexts) {
    out.U16(element.id);
    out.U8(static_cast<std::uint8_t>(element.transfers.size()));
    out.U8(0);
    WriteSyntax(out, element.abstract);
    for (const SyntaxId& transfer : element.transfers) WriteSyntax(out, transfer);
  }
  return out.Take();
}

std::optional<BindAckBody> ReadBindAck(ByteView body) {
  ByteReader in(body);
  BindAckBody ack;
  ack.maxXmitFrag = in.U16();
  ack.maxRecvFrag = in.U16();
  ack.assocGroup = in.U32();
  std::uint16_t addressLength = in.U16();
  ByteView address = in.Take(addressLength);
  if (!address.empty()) ack.secondaryAddress.assign(address.begin(), address.end() - 1);
  in.Align(4);
  std::uint8_t count = in.U8();
  in.Skip(3);
  for (std::uint8_t i = 0; i < count && in.ok(); ++i) {
    ContextResult result;
    result.result = in.U16();
    result.reason = in.U16();
    result.transfer = ReadSyntax(in);
    ack.results.push_back(result);
  }
  if (!in.ok()) return std::nullopt;
  return ack;
}

Bytes WriteBindAckBody(const BindAckBody& ack) {
  ByteWriter out;
  out.U16(ack.maxXmitFrag);
  out.U16(ack.maxRecvFrag);
  out.U32(ack.assocGroup);
  if (ack.secondaryAddress.empty()) {
    out.U16(0);
  } else {
    out.U16(static_cast<std::uint16_t>(ack.secondaryAddress.size() + 1));
    for (char c : ack.secondaryAddress) out.U8(static_cast<std::uint8_t>(c));
    out.U8(0);
  }
  out.Align(4);
  out.U8(static_cast<std::uint8_t>(ack.results.size()));
  out.Zeros(3);
  for (const ContextResult& result : ack.results) {
    out.U16(result.result);
    out.U16(result.reason);
    WriteSyntax(out, result.transfer);
  }
  return out.Take();
}

std::optional<RequestBody> ReadRequest(const PduParts& parts) {
  ByteReader in(parts.body);
  RequestBody request;
  request.allocHint = in.U32();
  request.contextId = in.U16();
  request.opnum = in.U16();
  request.hasObject = parts.header.flags & kPfcObjectUuid;
  if (request.hasObject) request.object = in.Guid();
  request.stub = in.Take(in.remaining());
  if (!in.ok()) return std::nullopt;
  return request;
}

std::optional<ResponseBody> ReadResponse(const PduParts& parts) {
  ByteReader in(parts.body);
  ResponseBody response;
  response.allocHint = in.U32();
  response.contextId = in.U16();
  in.Skip(2);
  response.stub = in.Take(in.remaining());
  if (!in.ok()) return std::nullopt;
  return response;
}

std::optional<std::uint32_t> ReadFault(const PduParts& parts) {
  ByteReader in(parts.body);
  in.Skip(8);
  std::uint32_t status = in.U32();
  if (!in.ok()) return std::nullopt;
  return status;
}

std::optional<std::uint16_t> ReadBindNak(const PduParts& parts) {
  ByteReader in(parts.body);
  std::uint16_t reason = in.U16();
  if (!in.ok()) return std::nullopt;
  return reason;
}

std::size_t VerificationTrailerStart(ByteView stub) {
  static constexpr std::uint8_t kSignature[8] = {0x8a, 0xe3, 0x13, 0x71, 0x02, 0xf4, 0x36, 0x71};
  constexpr std::uint16_t kCommandEnd = 0x4000;
  constexpr std::size_t kLongest = 512;  // far more than the three known commands take
  if (stub.size() < 8) return stub.size();
  std::size_t lowest = stub.size() > kLongest ? stub.size() - kLongest : 0;
  for (std::size_t at = (stub.size() - 8) / 4 * 4;; at -= 4) {
    if (std::equal(kSignature, kSignature + 8, stub.begin() + at)) {
      ByteReader in(stub.subspan(at + 8));
      bool end = false;
      while (!end && in.ok() && in.remaining() > 0) {
        end = in.U16() & kCommandEnd;
        in.Skip(in.U16());
      }
      if (end && in.ok() && in.remaining() == 0) return at;
    }
    if (at < lowest + 4) break;
  }
  return stub.size();
}

Bytes WritePdu(PduType type, std::uint8_t flags, std::uint32_t callId, ByteView body) {
  ByteWriter out;
  WriteHeader(out, type, flags, callId);
  out.Put(body);
  out.Set16(8, static_cast<std::uint16_t>(out.size()));
  return out.Take();
}

Bytes WritePdu(PduType type, std::uint8_t flags, std::uint32_t callId, ByteView body,
               SecTrailer trailer, ByteView authValue, std::size_t authValueLength) {
  ByteWriter out;
  WriteHeader(out, type, flags, callId);
  out.Put(body);
  std::size_t pad = (4 - out.size() % 4) % 4;
  out.Zeros(pad);
  out.U8(trailer.authType);
  out.U8(static_cast<std::uint8_t>(trailer.level));
  out.U8(static_cast<std::uint8_t>(pad));
  out.U8(0);
  out.U32(trailer.contextId);
  if (authValue.size() == authValueLength)
    out.Put(authValue);
  else
    out.Zeros(authValueLength);
  out.Set16(8, static_cast<std::uint16_t>(out.size()));
  out.Set16(10, static_cast<std::uint16_t>(authValueLength));
  return out.Take();
}

Bytes WriteFault(std::uint32_t callId, std::uint16_t contextId, std::uint32_t status,
                 bool didNotExecute) {
  ByteWriter body;
  body.U32(0);
  body.U16(contextId);
  body.U8(0);
  body.U8(0);
  body.U32(status);
  body.U32(0);
  std::uint8_t flags = kPfcFirstFrag | kPfcLastFrag | (didNotExecute ? kPfcDidNotExecute : 0);
  return WritePdu(PduType::Fault, flags, callId, body.bytes());
}

Bytes WriteBindNak(std::uint32_t callId, RejectReason reason) {
  ByteWriter body;
  body.U16(static_cast<std::uint16_t>(reason));
  body.U8(1);  // one protocol version supported: 5.0
  body.U8(5);
  body.U8(0);
  body.Zeros(3);
  return WritePdu(PduType::BindNak, kPfcFirstFrag | kPfcLastFrag, callId, body.bytes());
}

Bytes RequestHeader(std::uint32_t allocHint, std::uint16_t contextId, std::uint16_t opnum,
                    const com::GUID* object) {
  ByteWriter out;
  out.U32(allocHint);
  out.U16(contextId);
  out.U16(opnum);
  if (object) out.Guid(*object);
  return out.Take();
}

Bytes ResponseHeader(std::uint32_t allocHint, std::uint16_t contextId) {
  ByteWriter out;
  out.U32(allocHint);
  out.U16(contextId);
  out.U16(0);
  return out.Take();
}

}  // namespace tagwell::dcom
