// The DCE/RPC PDU readers and the server's protocol state fed one
// connection's bytes: split into PDUs as the server's socket loop does,
// each handed to a ServerSession (echo dispatcher, one account) and to the
// client's readers.
#include <cstddef>
#include <cstdint>

#include "dcom/rpc/Fragments.h"
#include "dcom/rpc/ServerSession.h"

namespace {

using namespace tagwell::dcom;

class Echo final : public Dispatcher {
 public:
  bool Supports(const SyntaxId& abstract) const override { return abstract.major == 1; }
  Response Call(const Request& request) override {
    Response response;
    if (request.opnum > 3) response.fault = kFaultOpRangeError;
    response.stub.assign(request.stub.begin(), request.stub.end());
    return response;
  }
  void AssociationGroupClosed(std::uint32_t) override {}
};

void ClientReaders(Bytes pdu) {
  auto parts = SplitPdu(pdu);
  if (!parts) return;
  ReadBindAck(parts->body);
  ReadResponse(*parts);
  ReadFault(*parts);
  ReadBindNak(*parts);
  CallSecurity none;
  std::string why;
  OpenFragment(pdu, none, &why);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Echo echo;
  static AssociationGroups groups(echo);
  static SessionSettings settings = [] {
    SessionSettings s;
    s.dispatcher = &echo;
    s.groups = &groups;
    s.accounts = [](std::vector<std::string>*) {
      return std::vector<DcomAccount>{
          {"PLANT", "operator", tagwell::dcom::ntlm::NtHash("Secret-1"), false}};
    };
    s.maxRequestBytes = 1 << 16;
    // The seeds' NTLM exchange answers this challenge, so that signed
    // requests get past the login.
    s.random = [](std::span<std::uint8_t> bytes) {
      for (auto& byte : bytes) byte = 0x42;
    };
    s.now = [] { return std::uint64_t{0}; };
    return s;
  }();
  ServerSession session(settings, "127.0.0.1:1");
  ByteView stream(data, size);
  std::vector<Bytes> replies;
  while (stream.size() >= kHeaderSize) {
    auto header = ReadHeader(stream);
    if (!header || header->fragLength > stream.size()) break;
    Bytes pdu(stream.begin(), stream.begin() + header->fragLength);
    stream = stream.subspan(header->fragLength);
    ClientReaders(pdu);
    if (!session.OnPdu(std::move(pdu), &replies)) break;
  }
  for (const Bytes& reply : replies)
    if (!SplitPdu(reply)) __builtin_trap();  // what the server sends must read back
  return 0;
}
