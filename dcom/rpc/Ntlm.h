// NTLMSSP (NTLMv2 with extended session security) for the auth verifiers of
// DCE/RPC: the three messages, the NTLMv2 response, the session keys and
// the message signatures and sealing of an established session. Both sides:
// the server checks a client against an NT hash, the client answers a
// server's challenge. MD4, MD5, HMAC-MD5 and RC4 come from nettle.
//
// Readers take outside bytes and check every field against the message;
// they return nullopt for anything malformed.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "dcom/rpc/Wire.h"

struct arcfour_ctx;

namespace tagwell::dcom::ntlm {

using Hash16 = std::array<std::uint8_t, 16>;
using Challenge8 = std::array<std::uint8_t, 8>;
using Signature = std::array<std::uint8_t, 16>;

// NegotiateFlags.
constexpr std::uint32_t kUnicode = 0x00000001;
constexpr std::uint32_t kOem = 0x00000002;
constexpr std::uint32_t kRequestTarget = 0x00000004;
constexpr std::uint32_t kSign = 0x00000010;
constexpr std::uint32_t kSeal = 0x00000020;
constexpr std::uint32_t kLmKey = 0x00000080;
constexpr std::uint32_t kNtlm = 0x00000200;
constexpr std::uint32_t kAnonymous = 0x00000800;
constexpr std::uint32_t kAlwaysSign = 0x00008000;
constexpr std::uint32_t kTargetTypeDomain = 0x00010000;
constexpr std::uint32_t kTargetTypeServer = 0x00020000;
constexpr std::uint32_t kExtendedSessionSecurity = 0x00080000;
constexpr std::uint32_t kTargetInfo = 0x00800000;
constexpr std::uint32_t kVersion = 0x02000000;
constexpr std::uint32_t k128 = 0x20000000;
constexpr std::uint32_t kKeyExchange = 0x40000000;
constexpr std::uint32_t k56 = 0x80000000;

// AV_PAIR ids.
constexpr std::uint16_t kAvEol = 0;
constexpr std::uint16_t kAvNbComputerName = 1;
constexpr std::uint16_t kAvNbDomainName = 2;
constexpr std::uint16_t kAvDnsComputerName = 3;
constexpr std::uint16_t kAvDnsDomainName = 4;
constexpr std::uint16_t kAvFlags = 6;
constexpr std::uint16_t kAvTimestamp = 7;
constexpr std::uint16_t kAvFlagMicPresent = 0x2;

// --- primitives --------------------------------------------------------------

Bytes Utf16(std::string_view utf8);
// UTF-8 of UTF-16LE bytes (unpaired surrogates become U+FFFD).
std::string FromUtf16(ByteView utf16);
// The uppercase of a name as Windows compares names: ASCII, Latin-1 and
// Cyrillic letters.
std::string UpperName(std::string_view utf8);

Hash16 Md5(std::initializer_list<ByteView> parts);
Hash16 HmacMd5(ByteView key, std::initializer_list<ByteView> parts);
// NTOWFv1: MD4 of the UTF-16LE password, the "NT hash".
Hash16 NtHash(std::string_view password);
// NTOWFv2: HMAC-MD5(NT hash, UTF-16LE(upper(user) + domain)).
Hash16 NtOwfV2(const Hash16& ntHash, std::string_view user, std::string_view domain);
// Constant-time comparison.
bool SameBytes(ByteView a, ByteView b);

class Rc4 {
 public:
  explicit Rc4(ByteView key);
  ~Rc4();
  Rc4(Rc4&&) noexcept;
  Rc4& operator=(Rc4&&) noexcept;
  void Crypt(std::span<std::uint8_t> data);

 private:
  std::unique_ptr<arcfour_ctx> context_;
};

// 100 ns intervals since 1601-01-01 UTC, the MsvAvTimestamp of now.
std::uint64_t FileTimeNow();
// Fills bytes from the system's random source.
void RandomBytes(std::span<std::uint8_t> bytes);

// --- messages ----------------------------------------------------------------

struct AvPair {
  std::uint16_t id = kAvEol;
  Bytes value;
};
// The pairs of a target info up to MsvAvEOL; nullopt when one overruns.
std::optional<std::vector<AvPair>> ReadAvPairs(ByteView info);
// The pairs followed by MsvAvEOL.
Bytes WriteAvPairs(const std::vector<AvPair>& pairs);

struct NegotiateMessage {
  std::uint32_t flags = 0;
};
std::optional<NegotiateMessage> ReadNegotiate(ByteView message);
Bytes WriteNegotiate(std::uint32_t flags);

struct ChallengeMessage {
  std::uint32_t flags = 0;
  Challenge8 serverChallenge{};
  std::string targetName;
  Bytes targetInfo;
};
std::optional<ChallengeMessage> ReadChallenge(ByteView message);
Bytes WriteChallenge(const ChallengeMessage& challenge);

struct AuthenticateMessage {
  std::uint32_t flags = 0;
  Bytes lmResponse;
  Bytes ntResponse;
  std::string domain;
  std::string user;
  std::string workstation;
  Bytes encryptedSessionKey;
  // Where the 16-byte MIC sits in the message; 0 when the message has no
  // room for one.
  std::size_t micOffset = 0;
};
std::optional<AuthenticateMessage> ReadAuthenticate(ByteView message);
// With Version and a zero MIC at offset 72 (set it afterwards).
Bytes WriteAuthenticate(const AuthenticateMessage& message);

// --- NTLMv2 ------------------------------------------------------------------

struct V2Response {
  Bytes ntResponse;  // NTProofStr followed by the client challenge blob
  Bytes lmResponse;  // LMv2, or 24 zeros when the server sent a timestamp
  Hash16 sessionBaseKey{};
};
// The client challenge blob ("temp"): version, time, client challenge and
// the target info as the client sends it back.
Bytes ClientBlob(std::uint64_t time, const Challenge8& clientChallenge, ByteView targetInfo);
V2Response ComputeV2Response(const Hash16& ntOwfV2, const Challenge8& serverChallenge,
                             const Challenge8& clientChallenge, ByteView blob, bool zeroLm);
Hash16 SignKey(const Hash16& exportedKey, bool clientToServer);
Hash16 SealKey(const Hash16& exportedKey, std::uint32_t flags, bool clientToServer);

// The signing and sealing state of an established session: a key and RC4
// handle and a sequence number per direction.
class Session {
 public:
  Session(const Hash16& exportedKey, std::uint32_t flags, bool client);

  std::uint32_t flags() const { return flags_; }
  // Outgoing: the signature of message (NTLMSSP_MESSAGE_SIGNATURE version 1)
  // with the next outgoing sequence number; with seal, sealed (a part of
  // message's storage or another buffer) is encrypted first, in place. The
  // checksum is computed over message as it was before sealing.
  Signature Protect(ByteView message, std::span<std::uint8_t> sealed, bool seal);
  // Incoming: with unseal, decrypts sealed in place; then whether the
  // signature is the one of one of the candidate messages (the same
  // plaintext signed two ways) with the next incoming sequence number.
  bool Accept(std::initializer_list<ByteView> candidates, std::span<std::uint8_t> sealed,
              bool unseal, ByteView signature);

 private:
  std::uint32_t flags_;
  Hash16 sendSign_, receiveSign_;
  Rc4 sendSeal_, receiveSeal_;
  std::uint32_t sendSequence_ = 0, receiveSequence_ = 0;
};

// --- the two sides -------------------------------------------------------------

struct ServerNames {
  std::string netbiosComputer = "TAGWELL";
  std::string netbiosDomain = "WORKGROUP";
  std::string dnsComputer;
  std::string dnsDomain;
};

class ServerHandshake {
 public:
  using Random = std::function<void(std::span<std::uint8_t>)>;
  using Clock = std::function<std::uint64_t()>;
  explicit ServerHandshake(ServerNames names, Random random = RandomBytes, Clock now = FileTimeNow);

  // The CHALLENGE for a NEGOTIATE; nullopt with the reason in *why when the
  // message is malformed or asks for what this side does not do.
  std::optional<Bytes> Challenge(ByteView negotiate, std::string* why);

  enum class Verdict { Accepted, UnknownAccount, WrongPassword, Refused };
  struct Outcome {
    Verdict verdict = Verdict::Refused;
    std::string user, domain, workstation;
    std::string why;  // for Refused: what was wrong with the message
    std::optional<Session> session;
  };
  // The NT hash of the named account, nullopt when there is none.
  using Lookup =
      std::function<std::optional<Hash16>(const std::string& user, const std::string& domain)>;
  // Checks an AUTHENTICATE answering the last Challenge.
  Outcome Authenticate(ByteView authenticate, const Lookup& lookup);

 private:
  Outcome Verify(const AuthenticateMessage& message, ByteView raw, const Hash16& ntHash);

  ServerNames names_;
  Random random_;
  Clock now_;
  Bytes negotiate_, challenge_;
  ChallengeMessage sent_;
};

struct ClientCredentials {
  std::string user;
  std::string domain;
  Hash16 ntHash{};
  std::string workstation;
};

class ClientHandshake {
 public:
  using Random = ServerHandshake::Random;
  using Clock = ServerHandshake::Clock;
  explicit ClientHandshake(ClientCredentials credentials, Random random = RandomBytes,
                           Clock now = FileTimeNow);

  Bytes Negotiate();
  // The AUTHENTICATE for the server's CHALLENGE; nullopt with the reason in
  // *why. On success session() holds the keys.
  std::optional<Bytes> Authenticate(ByteView challenge, std::string* why);
  std::optional<Session>& session() { return session_; }

 private:
  ClientCredentials credentials_;
  Random random_;
  Clock now_;
  Bytes negotiate_;
  std::optional<Session> session_;
};

}  // namespace tagwell::dcom::ntlm
