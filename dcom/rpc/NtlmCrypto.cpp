// The primitives, the NTLMv2 computations and the session's signatures.
#include <nettle/arcfour.h>
#include <nettle/hmac.h>
#include <nettle/md4.h>
#include <nettle/md5.h>
#include <sys/random.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "dcom/rpc/Ntlm.h"

namespace tagwell::dcom::ntlm {

namespace {

// Code points of UTF-8 text; a malformed sequence becomes U+FFFD.
std::u32string CodePoints(std::string_view utf8) {
  std::u32string points;
  for (std::size_t i = 0; i < utf8.size();) {
    auto byte = static_cast<unsigned char>(utf8[i]);
    int extra = byte < 0x80         ? 0
                : (byte >> 5) == 6  ? 1
                : (byte >> 4) == 14 ? 2
                : (byte >> 3) == 30 ? 3
                                    : -1;
    char32_t point = extra == 0   ? byte
                     : extra == 1 ? byte & 0x1f
                     : extra == 2 ? byte & 0x0f
                                  : byte & 0x07;
    bool good = extra >= 0 && i + extra < utf8.size();
    for (int k = 1; good && k <= extra; ++k) {
      auto next = static_cast<unsigned char>(utf8[i + k]);
      good = (next & 0xc0) == 0x80;
      point = (point << 6) | (next & 0x3f);
    }
    points.push_back(good && point <= 0x10ffff ? point : U'\xfffd');
    i += good ? extra + 1 : 1;
  }
  return points;
}

void AppendUtf8(std::string& text, char32_t point) {
  if (point < 0x80) {
    text += static_cast<char>(point);
  } else if (point < 0x800) {
    text += static_cast<char>(0xc0 | (point >> 6));
    text += static_cast<char>(0x80 | (point & 0x3f));
  } else if (point < 0x10000) {
    text += static_cast<char>(0xe0 | (point >> 12));
    text += static_cast<char>(0x80 | ((point >> 6) & 0x3f));
    text += static_cast<char>(0x80 | (point & 0x3f));
  } else {
    text += static_cast<char>(0xf0 | (point >> 18));
    text += static_cast<char>(0x80 | ((point >> 12) & 0x3f));
    text += static_cast<char>(0x80 | ((point >> 6) & 0x3f));
    text += static_cast<char>(0x80 | (point & 0x3f));
  }
}

char32_t Upper(char32_t c) {
  if (c >= U'a' && c <= U'z') return c - 32;
  if (c >= 0xe0 && c <= 0xfe && c != 0xf7) return c - 32;
  if (c >= 0x430 && c <= 0x44f) return c - 32;
  if (c >= 0x450 && c <= 0x45f) return c - 80;
  return c;
}

// Version 1, the HMAC-MD5 checksum (not yet sealed) and the sequence number.
Signature PlainSignature(const Hash16& signKey, std::uint32_t sequence, ByteView message) {
  ByteWriter sequenceBytes;
  sequenceBytes.U32(sequence);
  Hash16 mac = HmacMd5(signKey, {sequenceBytes.bytes(), message});
  Signature signature{};
  signature[0] = 1;
  std::copy(mac.begin(), mac.begin() + 8, signature.begin() + 4);
  std::copy(sequenceBytes.bytes().begin(), sequenceBytes.bytes().end(), signature.begin() + 12);
  return signature;
}

}  // namespace

Bytes Utf16(std::string_view utf8) {
  Bytes bytes;
  for (char32_t point : CodePoints(utf8)) {
    auto unit = [&](char32_t u) {
      bytes.push_back(static_cast<std::uint8_t>(u));
      bytes.push_back(static_cast<std::uint8_t>(u >> 8));
    };
    if (point >= 0x10000) {
      unit(0xd800 + ((point - 0x10000) >> 10));
      unit(0xdc00 + ((point - 0x10000) & 0x3ff));
    } else {
      unit(point);
    }
  }
  return bytes;
}

std::string FromUtf16(ByteView utf16) {
  std::string text;
  for (std::size_t i = 0; i + 1 < utf16.size(); i += 2) {
    char32_t unit = utf16[i] | (utf16[i + 1] << 8);
    if (unit >= 0xd800 && unit < 0xdc00 && i + 3 < utf16.size()) {
      char32_t low = utf16[i + 2] | (utf16[i + 3] << 8);
      if (low >= 0xdc00 && low < 0xe000) {
        AppendUtf8(text, 0x10000 + ((unit - 0xd800) << 10) + (low - 0xdc00));
        i += 2;
        continue;
      }
    }
    AppendUtf8(text, unit >= 0xd800 && unit < 0xe000 ? U'\xfffd' : unit);
  }
  return text;
}

std::string UpperName(std::string_view utf8) {
  std::string text;
  for (char32_t point : CodePoints(utf8)) AppendUtf8(text, Upper(point));
  return text;
}

Hash16 Md5(std::initializer_list<ByteView> parts) {
  md5_ctx context;
  md5_init(&context);
  for (ByteView part : parts) md5_update(&context, part.size(), part.data());
  Hash16 digest;
  md5_digest(&context, digest.size(), digest.data());
  return digest;
}

Hash16 HmacMd5(ByteView key, std::initializer_list<ByteView> parts) {
  hmac_md5_ctx context;
  hmac_md5_set_key(&context, key.size(), key.data());
  for (ByteView part : parts) hmac_md5_update(&context, part.size(), part.data());
  Hash16 digest;
  hmac_md5_digest(&context, digest.size(), digest.data());
  return digest;
}

Hash16 NtHash(std::string_view password) {
  Bytes text = Utf16(password);
  md4_ctx context;
  md4_init(&context);
  md4_update(&context, text.size(), text.data());
  Hash16 digest;
  md4_digest(&context, digest.size(), digest.data());
  return digest;
}

Hash16 NtOwfV2(const Hash16& ntHash, std::string_view user, std::string_view domain) {
  Bytes name = Utf16(UpperName(user) + std::string(domain));
  return HmacMd5(ntHash, {name});
}

bool SameBytes(ByteView a, ByteView b) {
  if (a.size() != b.size()) return false;
  std::uint8_t difference = 0;
  for (std::size_t i = 0; i < a.size(); ++i) difference |= a[i] ^ b[i];
  return difference == 0;
}

Rc4::Rc4(ByteView key) : context_(std::make_unique<arcfour_ctx>()) {
  arcfour_set_key(context_.get(), key.size(), key.data());
}
Rc4::~Rc4() = default;
Rc4::Rc4(Rc4&&) noexcept = default;
Rc4& Rc4::operator=(Rc4&&) noexcept = default;

void Rc4::Crypt(std::span<std::uint8_t> data) {
  arcfour_crypt(context_.get(), data.size(), data.data(), data.data());
}

std::uint64_t FileTimeNow() {
  auto since1970 = std::chrono::system_clock::now().time_since_epoch();
  auto ticks = std::chrono::duration_cast<std::chrono::nanoseconds>(since1970).count() / 100;
  return static_cast<std::uint64_t>(ticks) + 116444736000000000ULL;
}

void RandomBytes(std::span<std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t got = ::getrandom(bytes.data() + done, bytes.size() - done, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) std::abort();  // no randomness: no safe key can be made
    done += static_cast<std::size_t>(got);
  }
}

Bytes ClientBlob(std::uint64_t time, const Challenge8& clientChallenge, ByteView targetInfo) {
  ByteWriter blob;
  blob.U8(1);  // RespType
  blob.U8(1);  // HiRespType
  blob.Zeros(6);
  blob.U64(time);
  blob.Put(clientChallenge);
  blob.Zeros(4);
  blob.Put(targetInfo);
  blob.Zeros(4);
  return blob.Take();
}

V2Response ComputeV2Response(const Hash16& ntOwfV2, const Challenge8& serverChallenge,
                             const Challenge8& clientChallenge, ByteView blob, bool zeroLm) {
  V2Response response;
  Hash16 proof = HmacMd5(ntOwfV2, {serverChallenge, blob});
  response.ntResponse.assign(proof.begin(), proof.end());
  response.ntResponse.insert(response.ntResponse.end(), blob.begin(), blob.end());
  if (zeroLm) {
    response.lmResponse.assign(24, 0);
  } else {
    Hash16 lm = HmacMd5(ntOwfV2, {serverChallenge, clientChallenge});
    response.lmResponse.assign(lm.begin(), lm.end());
    response.lmResponse.insert(response.lmResponse.end(), clientChallenge.begin(),
                               clientChallenge.end());
  }
  response.sessionBaseKey = HmacMd5(ntOwfV2, {proof});
  return response;
}

Hash16 SignKey(const Hash16& exportedKey, bool clientToServer) {
  static constexpr char kClient[] = "session key to client-to-server signing key magic constant";
  static constexpr char kServer[] = "session key to server-to-client signing key magic constant";
  const char* magic = clientToServer ? kClient : kServer;
  return Md5({exportedKey, ByteView(reinterpret_cast<const std::uint8_t*>(magic), sizeof kClient)});
}

Hash16 SealKey(const Hash16& exportedKey, std::uint32_t flags, bool clientToServer) {
  static constexpr char kClient[] = "session key to client-to-server sealing key magic constant";
  static constexpr char kServer[] = "session key to server-to-client sealing key magic constant";
  const char* magic = clientToServer ? kClient : kServer;
  std::size_t length = (flags & k128) ? 16 : (flags & k56) ? 7 : 5;
  return Md5({ByteView(exportedKey).first(length),
              ByteView(reinterpret_cast<const std::uint8_t*>(magic), sizeof kClient)});
}

Session::Session(const Hash16& exportedKey, std::uint32_t flags, bool client)
    : flags_(flags),
      sendSign_(SignKey(exportedKey, client)),
      receiveSign_(SignKey(exportedKey, !client)),
      sendSeal_(SealKey(exportedKey, flags, client)),
      receiveSeal_(SealKey(exportedKey, flags, !client)) {}

Signature Session::Protect(ByteView message, std::span<std::uint8_t> sealed, bool seal) {
  Signature signature = PlainSignature(sendSign_, sendSequence_++, message);
  if (seal) sendSeal_.Crypt(sealed);
  if (flags_ & kKeyExchange) sendSeal_.Crypt(std::span(signature).subspan(4, 8));
  return signature;
}

bool Session::Accept(std::initializer_list<ByteView> candidates, std::span<std::uint8_t> sealed,
                     bool unseal, ByteView signature) {
  if (unseal) receiveSeal_.Crypt(sealed);
  if (signature.size() != 16) return false;
  Signature received{};
  std::copy(signature.begin(), signature.end(), received.begin());
  if (flags_ & kKeyExchange) receiveSeal_.Crypt(std::span(received).subspan(4, 8));
  bool good = false;
  for (ByteView message : candidates)
    good = SameBytes(PlainSignature(receiveSign_, receiveSequence_, message), received) || good;
  ++receiveSequence_;
  return good;
}

}  // namespace tagwell::dcom::ntlm
