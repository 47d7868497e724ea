// The server's protocol state without sockets: presentation context
// negotiation, NTLM carried by alter_context, a tampered sealed call, and
// association groups shared by connections.
#include <gtest/gtest.h>

#include "dcom/rpc/ServerSession.h"
#include "tests/dcom/rpc/EchoServer.h"

namespace tagwell::dcom::test {
namespace {

const SyntaxId kNdr64{
    {0x71710533, 0xbeba, 0x4937, {0x83, 0x19, 0xb5, 0xdb, 0xef, 0x9c, 0xcc, 0x36}}, 1, 0};
const SyntaxId kUnknown{{0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}}, 1, 0};

struct Fixture {
  EchoDispatcher echo;
  AssociationGroups groups{echo};
  SessionSettings settings;
  Fixture() {
    settings.dispatcher = &echo;
    settings.groups = &groups;
    settings.port = 4711;
    settings.accounts = [](std::vector<std::string>*) {
      return std::vector<DcomAccount>{{"PLANT", "operator", ntlm::NtHash("Secret-1"), true}};
    };
  }
};

// Sends one PDU; the single answer, split.
Bytes Answer(ServerSession& session, Bytes pdu, bool keep = true) {
  std::vector<Bytes> replies;
  EXPECT_EQ(session.OnPdu(std::move(pdu), &replies), keep);
  EXPECT_EQ(replies.size(), 1u);
  return replies.empty() ? Bytes{} : replies.front();
}

Bytes BindPdu(PduType type, std::uint32_t group, std::vector<ContextElement> contexts,
              const Bytes& token = {}) {
  BindBody bind;
  bind.assocGroup = group;
  bind.contexts = std::move(contexts);
  if (token.empty()) return WritePdu(type, 3, 1, WriteBindBody(bind));
  SecTrailer trailer{kAuthTypeNtlm, AuthLevel::PacketPrivacy, 0, 9};
  return WritePdu(type, 3, 1, WriteBindBody(bind), trailer, token, token.size());
}

TEST(DcerpcSession, ContextsAreNegotiatedAndNtlmRunsOverAlterContext) {
  Fixture f;
  ServerSession session(f.settings, "10.0.0.1:5000");
  Bytes ack = Answer(session, BindPdu(PduType::Bind, 0,
                                      {{0, EchoInterface(), {Ndr20Syntax()}},
                                       {1, EchoInterface(), {FeatureNegotiationSyntax(3)}},
                                       {2, kUnknown, {Ndr20Syntax()}},
                                       {3, EchoInterface(), {kNdr64}}}));
  auto parts = SplitPdu(ack);
  ASSERT_TRUE(parts && parts->header.type == PduType::BindAck);
  auto body = ReadBindAck(parts->body);
  ASSERT_TRUE(body);
  EXPECT_EQ(body->secondaryAddress, "4711");
  ASSERT_EQ(body->results.size(), 4u);
  struct Expected {
    std::uint16_t result, reason;
  };
  const Expected expected[] = {{kResultAcceptance, 0},
                               {kResultNegotiateAck, kFeatureKeepConnectionOnOrphan},
                               {kResultProviderRejection, kReasonAbstractSyntaxNotSupported},
                               {kResultProviderRejection, kReasonTransferSyntaxesNotSupported}};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(body->results[i].result, expected[i].result) << i;
    EXPECT_EQ(body->results[i].reason, expected[i].reason) << i;
  }
  EXPECT_TRUE(SameSyntax(body->results[0].transfer, Ndr20Syntax()));

  ntlm::ClientHandshake client(
      ntlm::ClientCredentials{"operator", "plant", ntlm::NtHash("Secret-1"), ""});
  Bytes answer = Answer(session, BindPdu(PduType::AlterContext, 0, {}, client.Negotiate()));
  parts = SplitPdu(answer);
  ASSERT_TRUE(parts && parts->header.type == PduType::AlterContextResp && parts->trailer);
  std::string why;
  auto authenticate = client.Authenticate(parts->authValue, &why);
  ASSERT_TRUE(authenticate) << why;
  answer = Answer(session, BindPdu(PduType::AlterContext, 0, {}, *authenticate));
  EXPECT_EQ(SplitPdu(answer)->header.type, PduType::AlterContextResp);
  EXPECT_EQ(session.caller().user, "operator");
  EXPECT_EQ(session.caller().level, AuthLevel::PacketPrivacy);
  EXPECT_TRUE(session.caller().readOnly);

  // A sealed call whose stub ends in a verification trailer (one bitmask
  // command), as Windows clients send it: the Dispatcher sees the stub alone.
  CallSecurity security{AuthLevel::PacketPrivacy, 9, &*client.session()};
  Bytes stub{'s', 'e', 'a', 'l', 'e', 'd', '!', '!'};
  Bytes trailed = stub;
  for (std::uint8_t byte :
       {0x8a, 0xe3, 0x13, 0x71, 0x02, 0xf4, 0x36, 0x71, 0x01, 0x40, 4, 0, 1, 0, 0, 0})
    trailed.push_back(byte);
  Bytes request = MakeFragments(PduType::Request, 2, 0, 0, nullptr, trailed, 5840, security)[0];
  EXPECT_EQ(std::search(request.begin(), request.end(), stub.begin(), stub.end()), request.end());
  Bytes response = Answer(session, request);
  auto echoed = OpenFragment(response, security, &why);
  ASSERT_TRUE(echoed) << why;
  EXPECT_EQ(Bytes(echoed->begin(), echoed->end()), stub);

  request = MakeFragments(PduType::Request, 3, 0, 0, nullptr, stub, 5840, security)[0];
  request[26] ^= 1;  // inside the sealed stub
  Bytes fault = Answer(session, request, false);
  parts = SplitPdu(fault);
  EXPECT_EQ(ReadFault(*parts).value_or(0), kFaultSecurityPackage);
}

TEST(DcerpcSession, ConnectionsShareAnAssociationGroupUntilTheLastCloses) {
  Fixture f;
  std::uint32_t group = 0;
  {
    ServerSession first(f.settings, "a:1");
    Bytes ack = Answer(first, BindPdu(PduType::Bind, 0, {{0, EchoInterface(), {Ndr20Syntax()}}}));
    group = ReadBindAck(SplitPdu(ack)->body)->assocGroup;
    EXPECT_NE(group, 0u);
    {
      ServerSession second(f.settings, "a:2");
      ack = Answer(second, BindPdu(PduType::Bind, group, {{0, EchoInterface(), {Ndr20Syntax()}}}));
      EXPECT_EQ(ReadBindAck(SplitPdu(ack)->body)->assocGroup, group);
      EXPECT_EQ(second.caller().associationGroup, group);
      ServerSession stranger(f.settings, "b:1");
      Bytes nak = Answer(stranger, BindPdu(PduType::Bind, group + 1, {}), false);
      EXPECT_EQ(SplitPdu(nak)->header.type, PduType::BindNak);
    }
    EXPECT_EQ(f.echo.groupsClosed, 0);
  }
  EXPECT_EQ(f.echo.groupsClosed, 1);
}

}  // namespace
}  // namespace tagwell::dcom::test
