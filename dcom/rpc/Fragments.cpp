#include "dcom/rpc/Fragments.h"

#include <algorithm>

namespace tagwell::dcom {

namespace {

constexpr std::size_t kSignatureSize = 16;

std::size_t BodyHeaderSize(PduType type, std::uint8_t flags) {
  return type == PduType::Request && (flags & kPfcObjectUuid) ? 24 : 8;
}

}  // namespace

std::vector<Bytes> MakeFragments(PduType type, std::uint32_t callId, std::uint16_t contextId,
                                 std::uint16_t opnum, const com::GUID* object, ByteView stub,
                                 std::uint16_t maxFragment, CallSecurity& security) {
  bool request = type == PduType::Request;
  std::uint8_t objectFlag = request && object ? kPfcObjectUuid : 0;
  std::size_t headerSize = BodyHeaderSize(type, objectFlag);
  std::size_t overhead =
      kHeaderSize + headerSize + (security.Signs() ? 3 + kSecTrailerSize + kSignatureSize : 0);
  std::size_t chunk = std::max<std::size_t>(
      16, (maxFragment - std::min<std::size_t>(overhead, maxFragment)) / 16 * 16);
  std::vector<Bytes> fragments;
  std::size_t done = 0;
  do {
    std::size_t size = std::min(chunk, stub.size() - done);
    auto remaining = static_cast<std::uint32_t>(stub.size() - done);
    Bytes body = request ? RequestHeader(remaining, contextId, opnum, object)
                         : ResponseHeader(remaining, contextId);
    body.insert(body.end(), stub.begin() + done, stub.begin() + done + size);
    std::uint8_t flags = objectFlag | (done == 0 ? kPfcFirstFrag : 0) |
                         (done + size == stub.size() ? kPfcLastFrag : 0);
    if (!security.Signs()) {
      fragments.push_back(WritePdu(type, flags, callId, body));
    } else {
      SecTrailer trailer{kAuthTypeNtlm, security.level, 0, security.contextId};
      Bytes pdu = WritePdu(type, flags, callId, body, trailer, {}, kSignatureSize);
      std::size_t signedSize = pdu.size() - kSignatureSize;
      std::span<std::uint8_t> sealed(pdu.data() + kHeaderSize + headerSize,
                                     signedSize - kSecTrailerSize - kHeaderSize - headerSize);
      ntlm::Signature signature = security.session->Protect(
          ByteView(pdu).first(signedSize), sealed, security.level == AuthLevel::PacketPrivacy);
      std::copy(signature.begin(), signature.end(), pdu.begin() + signedSize);
      fragments.push_back(std::move(pdu));
    }
    done += size;
  } while (done < stub.size());
  return fragments;
}

std::optional<ByteView> OpenFragment(Bytes& pdu, CallSecurity& security, std::string* why) {
  auto parts = SplitPdu(pdu);
  if (!parts ||
      (parts->header.type != PduType::Request && parts->header.type != PduType::Response)) {
    *why = "a malformed request or response";
    return std::nullopt;
  }
  std::size_t headerSize = BodyHeaderSize(parts->header.type, parts->header.flags);
  if (security.Signs()) {
    const auto& trailer = parts->trailer;
    auto level = trailer ? (trailer->level == AuthLevel::Call ? AuthLevel::Packet : trailer->level)
                         : AuthLevel::None;
    if (!trailer || trailer->authType != kAuthTypeNtlm || level != security.level ||
        parts->authValue.size() != kSignatureSize || parts->padded.size() < headerSize) {
      *why = "the call's auth verifier is missing or not the connection's";
      return std::nullopt;
    }
    std::size_t signedSize = pdu.size() - kSignatureSize;
    std::span<std::uint8_t> sealed(pdu.data() + kHeaderSize + headerSize,
                                   parts->trailerOffset - kHeaderSize - headerSize);
    ntlm::Signature signature{};
    std::copy(parts->authValue.begin(), parts->authValue.end(), signature.begin());
    if (!security.session->Accept({ByteView(pdu).first(signedSize), sealed}, sealed,
                                  security.level == AuthLevel::PacketPrivacy, signature)) {
      *why = "the call's signature does not match";
      return std::nullopt;
    }
  }
  if (parts->body.size() < headerSize) {
    *why = "a request or response shorter than its header";
    return std::nullopt;
  }
  return parts->body.subspan(headerSize);
}

}  // namespace tagwell::dcom
