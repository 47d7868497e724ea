// NTLMv2 against the published examples: user "User", domain "Domain",
// password "Password", server challenge 0123456789abcdef, client challenge
// aa..aa, time 0, random session key 55..55, target info with the NetBIOS
// domain "Domain" and computer "Server".
#include "dcom/rpc/Ntlm.h"

#include <gtest/gtest.h>

#include <string>

namespace tagwell::dcom::ntlm {
namespace {

Bytes Hex(const std::string& text) {
  Bytes bytes;
  for (std::size_t i = 0; i + 1 < text.size();) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    i += 2;
  }
  return bytes;
}

template <typename T>
Bytes B(const T& value) {
  return Bytes(value.begin(), value.end());
}

struct Example {
  const char* name;
  Bytes (*compute)();
  const char* expected;
};

const Hash16 kNtHash = NtHash("Password");
const Challenge8 kServer{0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
const Challenge8 kClient{0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa};
const std::uint32_t kFlags = 0xe28a8233;

Hash16 Key() {
  return NtOwfV2(kNtHash, "User", "Domain");
}

V2Response Response() {
  Bytes info =
      WriteAvPairs({{kAvNbDomainName, Utf16("Domain")}, {kAvNbComputerName, Utf16("Server")}});
  return ComputeV2Response(Key(), kServer, kClient, ClientBlob(0, kClient, info), false);
}

Hash16 RandomSessionKey() {
  Hash16 key;
  key.fill(0x55);
  return key;
}

const Example kExamples[] = {
    {"NTOWFv1", [] { return B(kNtHash); }, "a4 f4 9c 40 65 10 bd ca b6 82 4e e7 c3 0f d8 52"},
    {"NTOWFv2", [] { return B(Key()); }, "0c 86 8a 40 3b fd 7a 93 a3 00 1e f2 2e f0 2e 3f"},
    {"SessionBaseKey", [] { return B(Response().sessionBaseKey); },
     "8d e4 0c ca db c1 4a 82 f1 5c b0 ad 0d e9 5c a3"},
    {"LMv2", [] { return Response().lmResponse; },
     "86 c3 50 97 ac 9c ec 10 25 54 76 4a 57 cc cc 19 aa aa aa aa aa aa aa aa"},
    {"NTProofStr",
     [] {
       Bytes nt = Response().ntResponse;
       return Bytes(nt.begin(), nt.begin() + 16);
     },
     "68 cd 0a b8 51 e5 1c 96 aa bc 92 7b eb ef 6a 1c"},
    {"EncryptedRandomSessionKey",
     [] {
       Bytes key = B(RandomSessionKey());
       Rc4(Response().sessionBaseKey).Crypt(key);
       return key;
     },
     "c5 da d2 54 4f c9 79 90 94 ce 1c e9 0b c9 d0 3e"},
    {"SealKey", [] { return B(SealKey(RandomSessionKey(), kFlags, true)); },
     "59 f6 00 97 3c c4 96 0a 25 48 0a 7c 19 6e 4c 58"},
    {"SignKey", [] { return B(SignKey(RandomSessionKey(), true)); },
     "47 88 dc 86 1b 47 82 f3 5d 43 fd 98 fe 1a 2d 39"},
    {"Sealed data and signature",
     [] {
       Session session(RandomSessionKey(), kFlags, true);
       Bytes data = Utf16("Plaintext");
       Bytes plain = data;
       Signature signature = session.Protect(plain, data, true);
       data.insert(data.end(), signature.begin(), signature.end());
       return data;
     },
     "54 e5 01 65 bf 19 36 dc 99 60 20 c1 81 1b 0f 06 fb 5f"
     " 01 00 00 00 7f b3 8e c5 c5 5d 49 76 00 00 00 00"},
};

TEST(Ntlm, PublishedNtlmV2ExamplesAreReproduced) {
  for (const Example& example : kExamples)
    EXPECT_EQ(example.compute(), Hex(example.expected)) << example.name;
}

// The two sides against each other: a good password gives both the same keys
// (what one seals the other opens), a wrong one or a tampered message does not.
TEST(Ntlm, ServerAcceptsOnlyTheRightPasswordAndBothSidesShareKeys) {
  struct Case {
    const char* password;
    bool tamper;
    ServerHandshake::Verdict verdict;
  };
  const Case cases[] = {{"Password", false, ServerHandshake::Verdict::Accepted},
                        {"password", false, ServerHandshake::Verdict::WrongPassword},
                        {"Password", true, ServerHandshake::Verdict::Refused}};
  for (const Case& c : cases) {
    ServerHandshake server(ServerNames{"SERVER", "DOMAIN", "server.plant", "plant"});
    ClientHandshake client(ClientCredentials{"user", "Domain", NtHash(c.password), "WS"});
    std::string why;
    auto challenge = server.Challenge(client.Negotiate(), &why);
    ASSERT_TRUE(challenge) << why;
    auto authenticate = client.Authenticate(*challenge, &why);
    ASSERT_TRUE(authenticate) << why;
    if (c.tamper) (*authenticate)[61] ^= 0x02;  // the NTLM flag bit, caught by the MIC
    auto outcome =
        server.Authenticate(*authenticate, [](const std::string& user, const std::string&) {
          return UpperName(user) == "USER" ? std::optional(kNtHash) : std::nullopt;
        });
    EXPECT_EQ(outcome.verdict, c.verdict) << c.password << " " << outcome.why;
    if (outcome.verdict != ServerHandshake::Verdict::Accepted) continue;
    Bytes message = Utf16("a call"), sealed = message;
    Signature signature = client.session()->Protect(message, sealed, true);
    EXPECT_NE(sealed, message);
    EXPECT_TRUE(outcome.session->Accept({message}, sealed, true, signature));
    EXPECT_EQ(sealed, message);
    EXPECT_FALSE(outcome.session->Accept({message}, {}, false, signature)) << "replayed";
  }
}

}  // namespace
}  // namespace tagwell::dcom::ntlm
