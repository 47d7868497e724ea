// The NTLMSSP readers of both sides: the first byte picks what the rest is
// fed to (the server's NEGOTIATE or AUTHENTICATE, the client's CHALLENGE, an
// established session's signature).
#include <cstddef>
#include <cstdint>

#include "dcom/rpc/Ntlm.h"

using namespace tagwell::dcom;
using namespace tagwell::dcom::ntlm;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  ByteView input(data + 1, size - 1);
  std::string why;
  auto fixed = [](std::span<std::uint8_t> bytes) {
    for (auto& byte : bytes) byte = 0x42;
  };
  switch (data[0] % 4) {
    case 0: {
      ServerHandshake server(ServerNames{}, fixed, [] { return std::uint64_t{0}; });
      server.Challenge(input, &why);
      ReadNegotiate(input);
      ReadAvPairs(input);
      break;
    }
    case 1: {
      ServerHandshake server(ServerNames{}, fixed, [] { return std::uint64_t{0}; });
      ClientHandshake client(ClientCredentials{"operator", "PLANT", NtHash("Secret-1"), ""}, fixed,
                             [] { return std::uint64_t{0}; });
      if (!server.Challenge(client.Negotiate(), &why)) __builtin_trap();
      auto outcome = server.Authenticate(input, [](const std::string&, const std::string&) {
        return std::optional(NtHash("Secret-1"));
      });
      if (outcome.session) outcome.session->Protect(input, {}, false);
      break;
    }
    case 2: {
      ClientHandshake client(ClientCredentials{"operator", "PLANT", NtHash("Secret-1"), ""}, fixed,
                             [] { return std::uint64_t{0}; });
      client.Negotiate();
      if (auto authenticate = client.Authenticate(input, &why)) {
        if (!ReadAuthenticate(*authenticate)) __builtin_trap();  // ours must read back
      }
      ReadChallenge(input);
      break;
    }
    default: {
      Hash16 key{};
      Session session(key, kKeyExchange | k128 | kSeal | kSign, false);
      Bytes copy(input.begin(), input.end());
      std::span<std::uint8_t> sealed(copy);
      ByteView signature = input.size() >= 16 ? input.first(16) : input;
      session.Accept({input}, sealed, true, signature);
      break;
    }
  }
  return 0;
}
