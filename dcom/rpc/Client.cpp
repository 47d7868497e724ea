#include "dcom/rpc/Client.h"

#include <sys/socket.h>
#include <unistd.h>

#include "platform/com/CallWait.h"

namespace tagwell::dcom {

namespace {

constexpr std::uint32_t kAuthContextId = 0x00010000;

BindBody OneContext(const SyntaxId& interface, std::uint16_t id, std::uint32_t group) {
  BindBody bind;
  bind.assocGroup = group;
  bind.contexts.push_back(ContextElement{id, interface, {Ndr20Syntax()}});
  return bind;
}

std::string ContextRefusal(const BindAckBody& ack) {
  if (ack.results.empty()) return "the server answered no presentation context";
  const ContextResult& result = ack.results.front();
  if (result.result == kResultAcceptance) return {};
  return result.reason == kReasonAbstractSyntaxNotSupported
             ? "the server does not offer the interface"
             : "the server refused the presentation context (reason " +
                   std::to_string(result.reason) + ")";
}

}  // namespace

ClientConnection::~ClientConnection() {
  Close();
}

void ClientConnection::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool ClientConnection::Fail(std::string* error, const std::string& what) {
  *error = what;
  Close();
  return false;
}

bool ClientConnection::Connect(const std::string& host, std::uint16_t port,
                               std::chrono::milliseconds timeout, std::string* error) {
  com::OutgoingCall waiting;
  Close();
  fd_ = ConnectTcp(host, port, Clock::now() + timeout, error);
  return fd_ >= 0;
}

bool ClientConnection::Exchange(const Bytes& pdu, Bytes* answer, Clock::time_point deadline,
                                std::string* error) {
  com::OutgoingCall waiting;
  if (fd_ < 0) return Fail(error, "not connected");
  if (!SendAll(fd_, pdu, deadline)) return Fail(error, "the server does not take the request");
  ReadOutcome outcome =
      ReadPdu(fd_, answer, deadline,
              std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
  if (outcome == ReadOutcome::Timeout) return Fail(error, "the server did not answer in time");
  if (outcome != ReadOutcome::Pdu) return Fail(error, "the server closed the connection");
  return true;
}

bool ClientConnection::Bind(const SyntaxId& interface, const ClientAuth& auth,
                            std::chrono::milliseconds timeout, std::string* error,
                            std::uint32_t assocGroup) {
  auto deadline = Clock::now() + timeout;
  std::uint32_t callId = nextCallId_++;
  Bytes body = WriteBindBody(OneContext(interface, 0, assocGroup));
  std::uint8_t flags = kPfcFirstFrag | kPfcLastFrag | kPfcSupportHeaderSign;
  SecTrailer trailer{kAuthTypeNtlm, auth.level, 0, kAuthContextId};
  Bytes pdu;
  if (auth.level == AuthLevel::None) {
    pdu = WritePdu(PduType::Bind, flags, callId, body);
  } else {
    ntlm::ClientCredentials credentials{auth.user, auth.domain,
                                        auth.ntHash ? *auth.ntHash : ntlm::NtHash(auth.password),
                                        auth.workstation};
    handshake_.emplace(credentials);
    Bytes negotiate = handshake_->Negotiate();
    pdu = WritePdu(PduType::Bind, flags, callId, body, trailer, negotiate, negotiate.size());
  }
  Bytes answer;
  if (!Exchange(pdu, &answer, deadline, error)) return false;
  auto parts = SplitPdu(answer);
  if (parts && parts->header.type == PduType::BindNak) {
    auto reason = ReadBindNak(*parts);
    return Fail(error,
                "the server refused the bind (reason " + std::to_string(reason.value_or(0)) + ")");
  }
  auto ack =
      parts && parts->header.type == PduType::BindAck ? ReadBindAck(parts->body) : std::nullopt;
  if (!ack) return Fail(error, "the server's answer to the bind is malformed");
  if (std::string refusal = ContextRefusal(*ack); !refusal.empty()) return Fail(error, refusal);
  // What this side sends is bounded by what the server receives.
  maxXmit_ = std::max(kMinFragment, std::min(ack->maxRecvFrag, kDefaultFragment));
  assocGroup_ = ack->assocGroup;
  if (auth.level == AuthLevel::None) return true;
  if (!parts->trailer || parts->authValue.empty())
    return Fail(error, "the server sent no NTLM challenge");
  auto authenticate = handshake_->Authenticate(parts->authValue, error);
  if (!authenticate) return Fail(error, *error);
  Bytes pad(4, 0);
  Bytes auth3 = WritePdu(PduType::Auth3, kPfcFirstFrag | kPfcLastFrag, callId, pad, trailer,
                         *authenticate, authenticate->size());
  if (!SendAll(fd_, auth3, deadline)) return Fail(error, "the server does not take the login");
  AuthLevel level = auth.level == AuthLevel::Call ? AuthLevel::Packet : auth.level;
  security_ = CallSecurity{level, kAuthContextId, &*handshake_->session()};
  return true;
}

bool ClientConnection::AlterContext(const SyntaxId& interface, std::chrono::milliseconds timeout,
                                    std::uint16_t* contextId, std::string* error) {
  std::uint16_t id = nextContext_++;
  Bytes body = WriteBindBody(OneContext(interface, id, assocGroup_));
  Bytes answer;
  Bytes pdu = WritePdu(PduType::AlterContext, kPfcFirstFrag | kPfcLastFrag, nextCallId_++, body);
  if (!Exchange(pdu, &answer, Clock::now() + timeout, error)) return false;
  auto parts = SplitPdu(answer);
  if (parts && parts->header.type == PduType::Fault)
    return Fail(error, "the server refused the alter_context (status " +
                           std::to_string(ReadFault(*parts).value_or(0)) + ")");
  auto ack = parts && parts->header.type == PduType::AlterContextResp ? ReadBindAck(parts->body)
                                                                      : std::nullopt;
  if (!ack) return Fail(error, "the server's answer to the alter_context is malformed");
  if (std::string refusal = ContextRefusal(*ack); !refusal.empty()) {
    *error = refusal;
    return false;
  }
  *contextId = id;
  return true;
}

CallResult ClientConnection::Call(std::uint16_t opnum, const com::GUID* object, ByteView stub,
                                  std::chrono::milliseconds timeout, std::uint16_t contextId) {
  com::OutgoingCall waiting;
  CallResult result;
  auto deadline = Clock::now() + timeout;
  std::uint32_t callId = nextCallId_++;
  if (fd_ < 0) {
    result.error = "not connected";
    return result;
  }
  for (const Bytes& fragment : MakeFragments(PduType::Request, callId, contextId, opnum, object,
                                             stub, maxXmit_, security_)) {
    if (!SendAll(fd_, fragment, deadline)) {
      Fail(&result.error, "the server does not take the request");
      return result;
    }
  }
  for (bool last = false; !last;) {
    Bytes pdu;
    ReadOutcome outcome =
        ReadPdu(fd_, &pdu, deadline,
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
    if (outcome != ReadOutcome::Pdu) {
      Fail(&result.error, outcome == ReadOutcome::Timeout ? "the server did not answer in time"
                                                          : "the server closed the connection");
      return result;
    }
    auto parts = SplitPdu(pdu);
    if (!parts || parts->header.callId != callId) {
      Fail(&result.error, "the server's answer is malformed or for another call");
      return result;
    }
    if (parts->header.type == PduType::Fault) {
      result.ok = true;
      result.fault = ReadFault(*parts).value_or(kFaultProtocolError);
      result.stub.clear();
      return result;
    }
    auto piece = OpenFragment(pdu, security_, &result.error);
    if (!piece || parts->header.type != PduType::Response) {
      if (result.error.empty()) result.error = "the server answered with an unexpected PDU";
      Close();
      return result;
    }
    result.stub.insert(result.stub.end(), piece->begin(), piece->end());
    last = parts->header.flags & kPfcLastFrag;
  }
  result.ok = true;
  return result;
}

}  // namespace tagwell::dcom
