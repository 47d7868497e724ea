// The NTLMSSP messages and the two sides of the handshake.
#include "dcom/rpc/Ntlm.h"

#include <algorithm>
#include <cstring>

namespace tagwell::dcom::ntlm {

namespace {

constexpr std::uint8_t kSignature[8] = {'N', 'T', 'L', 'M', 'S', 'S', 'P', 0};
constexpr std::size_t kAuthenticateHeader = 88;
constexpr std::size_t kMicOffset = 72;

// A Windows Server 2019 version block: 10.0.17763, NTLM revision 15.
void WriteVersion(ByteWriter& out) {
  out.U8(10);
  out.U8(0);
  out.U16(17763);
  out.Zeros(3);
  out.U8(15);
}

// Reads the signature and message type.
bool Start(ByteReader& in, std::uint32_t type) {
  ByteView signature = in.Take(8);
  std::uint32_t found = in.U32();
  return in.ok() && std::equal(signature.begin(), signature.end(), kSignature) && found == type;
}

// A payload field (length, allocated length, offset) and the bytes it names.
struct Field {
  std::uint16_t length = 0;
  std::uint32_t offset = 0;
};

Field ReadField(ByteReader& in) {
  Field field;
  field.length = in.U16();
  in.Skip(2);
  field.offset = in.U32();
  return field;
}

std::optional<ByteView> Payload(ByteView message, const Field& field) {
  if (field.length == 0) return ByteView{};
  if (field.offset > message.size() || field.length > message.size() - field.offset)
    return std::nullopt;
  return message.subspan(field.offset, field.length);
}

std::string Text(ByteView bytes, std::uint32_t flags) {
  if (flags & kUnicode) return FromUtf16(bytes);
  std::string text;  // OEM: read as Latin-1
  for (std::uint8_t byte : bytes) {
    if (byte < 0x80) {
      text += static_cast<char>(byte);
    } else {
      text += static_cast<char>(0xc0 | (byte >> 6));
      text += static_cast<char>(0x80 | (byte & 0x3f));
    }
  }
  return text;
}

// Writes the fields of parts at fieldsAt and appends the parts after the
// header.
void Place(ByteWriter& out, std::size_t fieldsAt, std::initializer_list<ByteView> parts) {
  std::size_t at = fieldsAt;
  for (ByteView part : parts) {
    out.Set16(at, static_cast<std::uint16_t>(part.size()));
    out.Set16(at + 2, static_cast<std::uint16_t>(part.size()));
    out.Set32(at + 4, static_cast<std::uint32_t>(out.size()));
    out.Put(part);
    at += 8;
  }
}

std::optional<ByteView> FindPair(const std::vector<AvPair>& pairs, std::uint16_t id) {
  for (const AvPair& pair : pairs)
    if (pair.id == id) return ByteView(pair.value);
  return std::nullopt;
}

// The AV pairs inside an NTLMv2 response, after NTProofStr and 28 bytes of
// the blob's fixed part.
std::optional<std::vector<AvPair>> ResponsePairs(const Bytes& ntResponse) {
  if (ntResponse.size() < 16 + 28) return std::nullopt;
  return ReadAvPairs(ByteView(ntResponse).subspan(16 + 28));
}

Hash16 Mic(const Hash16& exportedKey, ByteView negotiate, ByteView challenge, Bytes authenticate,
           std::size_t micOffset) {
  std::fill_n(authenticate.begin() + micOffset, 16, 0);
  return HmacMd5(exportedKey, {negotiate, challenge, authenticate});
}

}  // namespace

std::optional<std::vector<AvPair>> ReadAvPairs(ByteView info) {
  std::vector<AvPair> pairs;
  ByteReader in(info);
  while (true) {
    AvPair pair;
    pair.id = in.U16();
    std::uint16_t length = in.U16();
    ByteView value = in.Take(length);
    if (!in.ok()) return std::nullopt;
    if (pair.id == kAvEol) return pairs;
    pair.value.assign(value.begin(), value.end());
    pairs.push_back(std::move(pair));
  }
}

Bytes WriteAvPairs(const std::vector<AvPair>& pairs) {
  ByteWriter out;
  for (const AvPair& pair : pairs) {
    out.U16(pair.id);
    out.U16(static_cast<std::uint16_t>(pair.value.size()));
    out.Put(pair.value);
  }
  out.U32(0);  // MsvAvEOL
  return out.Take();
}

std::optional<NegotiateMessage> ReadNegotiate(ByteView message) {
  ByteReader in(message);
  if (!Start(in, 1)) return std::nullopt;
  NegotiateMessage negotiate;
  negotiate.flags = in.U32();
  if (!in.ok()) return std::nullopt;
  return negotiate;
}

Bytes WriteNegotiate(std::uint32_t flags) {
  ByteWriter out;
  out.Put(kSignature);
  out.U32(1);
  out.U32(flags);
  out.Zeros(16);  // no domain, no workstation
  WriteVersion(out);
  return out.Take();
}

std::optional<ChallengeMessage> ReadChallenge(ByteView message) {
  ByteReader in(message);
  if (!Start(in, 2)) return std::nullopt;
  ChallengeMessage challenge;
  Field targetName = ReadField(in);
  challenge.flags = in.U32();
  ByteView server = in.Take(8);
  in.Skip(8);
  Field targetInfo = ReadField(in);
  if (!in.ok()) return std::nullopt;
  std::copy(server.begin(), server.end(), challenge.serverChallenge.begin());
  auto name = Payload(message, targetName);
  auto info = Payload(message, targetInfo);
  if (!name || !info) return std::nullopt;
  challenge.targetName = Text(*name, challenge.flags);
  challenge.targetInfo.assign(info->begin(), info->end());
  return challenge;
}

Bytes WriteChallenge(const ChallengeMessage& challenge) {
  ByteWriter out;
  out.Put(kSignature);
  out.U32(2);
  out.Zeros(8);
  out.U32(challenge.flags);
  out.Put(challenge.serverChallenge);
  out.Zeros(8);
  out.Zeros(8);
  WriteVersion(out);
  Bytes name = Utf16(challenge.targetName);
  Place(out, 12, {name});
  Place(out, 40, {challenge.targetInfo});
  return out.Take();
}

std::optional<AuthenticateMessage> ReadAuthenticate(ByteView message) {
  ByteReader in(message);
  if (!Start(in, 3)) return std::nullopt;
  Field fields[6];
  for (Field& field : fields) field = ReadField(in);
  AuthenticateMessage auth;
  auth.flags = in.U32();
  if (!in.ok()) return std::nullopt;
  std::optional<ByteView> parts[6];
  std::size_t lowest = message.size();
  for (int i = 0; i < 6; ++i) {
    parts[i] = Payload(message, fields[i]);
    if (!parts[i]) return std::nullopt;
    if (fields[i].length) lowest = std::min<std::size_t>(lowest, fields[i].offset);
  }
  auth.lmResponse.assign(parts[0]->begin(), parts[0]->end());
  auth.ntResponse.assign(parts[1]->begin(), parts[1]->end());
  auth.domain = Text(*parts[2], auth.flags);
  auth.user = Text(*parts[3], auth.flags);
  auth.workstation = Text(*parts[4], auth.flags);
  auth.encryptedSessionKey.assign(parts[5]->begin(), parts[5]->end());
  if (lowest >= kAuthenticateHeader && message.size() >= kAuthenticateHeader)
    auth.micOffset = kMicOffset;
  return auth;
}

Bytes WriteAuthenticate(const AuthenticateMessage& message) {
  ByteWriter out;
  out.Put(kSignature);
  out.U32(3);
  out.Zeros(48);
  out.U32(message.flags);
  WriteVersion(out);
  out.Zeros(16);  // MIC
  Bytes domain = Utf16(message.domain), user = Utf16(message.user);
  Bytes workstation = Utf16(message.workstation);
  // The payload in Windows' order; the fields stay in the header's order.
  std::size_t start = out.size();
  out.Put(domain);
  out.Put(user);
  out.Put(workstation);
  out.Put(message.lmResponse);
  out.Put(message.ntResponse);
  out.Put(message.encryptedSessionKey);
  std::size_t offsets[6];
  std::size_t lengths[6] = {
      message.lmResponse.size(), message.ntResponse.size(),         domain.size(), user.size(),
      workstation.size(),        message.encryptedSessionKey.size()};
  offsets[2] = start;
  offsets[3] = offsets[2] + domain.size();
  offsets[4] = offsets[3] + user.size();
  offsets[0] = offsets[4] + workstation.size();
  offsets[1] = offsets[0] + lengths[0];
  offsets[5] = offsets[1] + lengths[1];
  for (int i = 0; i < 6; ++i) {
    out.Set16(12 + 8 * i, static_cast<std::uint16_t>(lengths[i]));
    out.Set16(14 + 8 * i, static_cast<std::uint16_t>(lengths[i]));
    out.Set32(16 + 8 * i, static_cast<std::uint32_t>(offsets[i]));
  }
  return out.Take();
}

// --- server ----------------------------------------------------------------------

ServerHandshake::ServerHandshake(ServerNames names, Random random, Clock now)
    : names_(std::move(names)), random_(std::move(random)), now_(std::move(now)) {}

std::optional<Bytes> ServerHandshake::Challenge(ByteView negotiate, std::string* why) {
  auto message = ReadNegotiate(negotiate);
  if (!message) {
    *why = "the NTLM NEGOTIATE message is malformed";
    return std::nullopt;
  }
  std::uint32_t asked = message->flags;
  if (!(asked & kUnicode) || !(asked & kExtendedSessionSecurity)) {
    *why = "the client asks for NTLM without Unicode or extended session security";
    return std::nullopt;
  }
  constexpr std::uint32_t kEchoed =
      kRequestTarget | kSign | kSeal | kAlwaysSign | kVersion | k128 | k56 | kKeyExchange;
  sent_ = ChallengeMessage{};
  sent_.flags = (asked & kEchoed) | kUnicode | kNtlm | kTargetTypeServer |
                kExtendedSessionSecurity | kTargetInfo;
  random_(sent_.serverChallenge);
  sent_.targetName = names_.netbiosComputer;
  ByteWriter time;
  time.U64(now_());
  std::vector<AvPair> pairs = {{kAvNbDomainName, Utf16(names_.netbiosDomain)},
                               {kAvNbComputerName, Utf16(names_.netbiosComputer)}};
  if (!names_.dnsDomain.empty()) pairs.push_back({kAvDnsDomainName, Utf16(names_.dnsDomain)});
  if (!names_.dnsComputer.empty()) pairs.push_back({kAvDnsComputerName, Utf16(names_.dnsComputer)});
  pairs.push_back({kAvTimestamp, time.Take()});
  sent_.targetInfo = WriteAvPairs(pairs);
  negotiate_.assign(negotiate.begin(), negotiate.end());
  challenge_ = WriteChallenge(sent_);
  return challenge_;
}

ServerHandshake::Outcome ServerHandshake::Authenticate(ByteView authenticate,
                                                       const Lookup& lookup) {
  Outcome outcome;
  auto message = ReadAuthenticate(authenticate);
  if (!message || challenge_.empty()) {
    outcome.why = "the NTLM AUTHENTICATE message is malformed or unexpected";
    return outcome;
  }
  outcome.user = message->user;
  outcome.domain = message->domain;
  outcome.workstation = message->workstation;
  if (message->user.empty()) {
    outcome.why = "anonymous logins are not accepted";
    return outcome;
  }
  if (message->ntResponse.size() < 16 + 28) {
    outcome.why = "the client sent an NTLMv1 or LM response; only NTLMv2 is accepted";
    return outcome;
  }
  auto ntHash = lookup(message->user, message->domain);
  if (!ntHash) {
    outcome.verdict = Verdict::UnknownAccount;
    return outcome;
  }
  Outcome verified = Verify(*message, authenticate, *ntHash);
  verified.user = outcome.user;
  verified.domain = outcome.domain;
  verified.workstation = outcome.workstation;
  return verified;
}

ServerHandshake::Outcome ServerHandshake::Verify(const AuthenticateMessage& message, ByteView raw,
                                                 const Hash16& ntHash) {
  Outcome outcome;
  ByteView proof = ByteView(message.ntResponse).first(16);
  ByteView blob = ByteView(message.ntResponse).subspan(16);
  // The domain as the client wrote it; some clients leave it out of the hash.
  std::optional<Hash16> key;
  for (const std::string& domain : {message.domain, std::string()}) {
    Hash16 candidate = NtOwfV2(ntHash, message.user, domain);
    if (SameBytes(HmacMd5(candidate, {sent_.serverChallenge, blob}), proof)) {
      key = candidate;
      break;
    }
  }
  if (!key) {
    outcome.verdict = Verdict::WrongPassword;
    return outcome;
  }
  std::uint32_t flags = message.flags & sent_.flags;
  Hash16 exported = HmacMd5(*key, {proof});  // SessionBaseKey = KeyExchangeKey
  if (flags & kKeyExchange) {
    if (message.encryptedSessionKey.size() != 16) {
      outcome.why = "the encrypted session key is missing";
      return outcome;
    }
    Rc4 rc4(exported);
    std::copy(message.encryptedSessionKey.begin(), message.encryptedSessionKey.end(),
              exported.begin());
    rc4.Crypt(exported);
  }
  auto pairs = ResponsePairs(message.ntResponse);
  auto avFlags = pairs ? FindPair(*pairs, kAvFlags) : std::nullopt;
  if (avFlags && avFlags->size() == 4 && ((*avFlags)[0] & kAvFlagMicPresent)) {
    Bytes whole(raw.begin(), raw.end());
    if (!message.micOffset ||
        !SameBytes(Mic(exported, negotiate_, challenge_, whole, message.micOffset),
                   ByteView(whole).subspan(message.micOffset, 16))) {
      outcome.why = "the message integrity code of the NTLM exchange does not match";
      return outcome;
    }
  }
  outcome.verdict = Verdict::Accepted;
  outcome.session.emplace(exported, flags, false);
  return outcome;
}

// --- client ----------------------------------------------------------------------

ClientHandshake::ClientHandshake(ClientCredentials credentials, Random random, Clock now)
    : credentials_(std::move(credentials)), random_(std::move(random)), now_(std::move(now)) {}

Bytes ClientHandshake::Negotiate() {
  negotiate_ =
      WriteNegotiate(kUnicode | kRequestTarget | kSign | kSeal | kNtlm | kAlwaysSign |
                     kExtendedSessionSecurity | kTargetInfo | kVersion | k128 | kKeyExchange | k56);
  return negotiate_;
}

std::optional<Bytes> ClientHandshake::Authenticate(ByteView challengeBytes, std::string* why) {
  auto challenge = ReadChallenge(challengeBytes);
  auto pairs = challenge ? ReadAvPairs(challenge->targetInfo) : std::nullopt;
  if (!challenge || !pairs) {
    *why = "the server's NTLM CHALLENGE message is malformed";
    return std::nullopt;
  }
  if (!(challenge->flags & kExtendedSessionSecurity) || challenge->targetInfo.empty()) {
    *why = "the server offers no NTLMv2 with extended session security";
    return std::nullopt;
  }
  if (negotiate_.empty()) Negotiate();
  std::uint32_t flags = challenge->flags & ReadNegotiate(negotiate_)->flags;
  auto timestamp = FindPair(*pairs, kAvTimestamp);
  std::uint64_t time = now_();
  if (timestamp && timestamp->size() == 8) time = ByteReader(*timestamp).U64();
  std::vector<AvPair> ours;
  for (const AvPair& pair : *pairs)
    if (pair.id != kAvFlags) ours.push_back(pair);
  if (timestamp) ours.push_back({kAvFlags, {kAvFlagMicPresent, 0, 0, 0}});
  Challenge8 clientChallenge;
  random_(clientChallenge);
  Bytes blob = ClientBlob(time, clientChallenge, WriteAvPairs(ours));
  Hash16 key = NtOwfV2(credentials_.ntHash, credentials_.user, credentials_.domain);
  V2Response response = ComputeV2Response(key, challenge->serverChallenge, clientChallenge, blob,
                                          timestamp.has_value());
  AuthenticateMessage message;
  message.flags = flags;
  message.lmResponse = response.lmResponse;
  message.ntResponse = response.ntResponse;
  message.domain = credentials_.domain;
  message.user = credentials_.user;
  message.workstation = credentials_.workstation;
  Hash16 exported = response.sessionBaseKey;
  if (flags & kKeyExchange) {
    random_(exported);
    Bytes encrypted(exported.begin(), exported.end());
    Rc4(response.sessionBaseKey).Crypt(encrypted);
    message.encryptedSessionKey = encrypted;
  }
  Bytes bytes = WriteAuthenticate(message);
  if (timestamp) {
    Hash16 mic = Mic(exported, negotiate_, challengeBytes, bytes, kMicOffset);
    std::copy(mic.begin(), mic.end(), bytes.begin() + kMicOffset);
  }
  session_.emplace(exported, flags, true);
  return bytes;
}

}  // namespace tagwell::dcom::ntlm
