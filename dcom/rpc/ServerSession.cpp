#include "dcom/rpc/ServerSession.h"

#include <algorithm>

namespace tagwell::dcom {

namespace {

constexpr std::uint32_t kServerFault = 0x80010105;  // RPC_E_SERVERFAULT

const char* LevelName(AuthLevel level) {
  switch (level) {
    case AuthLevel::Connect:
      return "connect";
    case AuthLevel::Packet:
      return "packet";
    case AuthLevel::PacketIntegrity:
      return "packet integrity";
    case AuthLevel::PacketPrivacy:
      return "packet privacy";
    default:
      return "no authentication";
  }
}

// The levels a bind may ask for; None comes without a verifier.
bool Acceptable(AuthLevel level) {
  return level >= AuthLevel::Connect && level <= AuthLevel::PacketPrivacy;
}

}  // namespace

std::uint32_t AssociationGroups::Join(std::uint32_t group) {
  std::lock_guard lock(mutex_);
  if (group != 0) {
    auto found = members_.find(group);
    if (found == members_.end()) return 0;
    ++found->second;
    return group;
  }
  do {
    ntlm::RandomBytes(std::span(reinterpret_cast<std::uint8_t*>(&next_), sizeof next_));
  } while (next_ == 0 || members_.count(next_));
  members_[next_] = 1;
  return next_;
}

void AssociationGroups::Leave(std::uint32_t group) {
  {
    std::lock_guard lock(mutex_);
    auto found = members_.find(group);
    if (found == members_.end() || --found->second > 0) return;
    members_.erase(found);
  }
  dispatcher_.AssociationGroupClosed(group);
}

ServerSession::ServerSession(const SessionSettings& settings, std::string peer)
    : settings_(settings) {
  caller_.address = std::move(peer);
}

ServerSession::~ServerSession() {
  if (caller_.associationGroup) settings_.groups->Leave(caller_.associationGroup);
}

bool ServerSession::Established() const {
  return bound_ && !loginRefused_ && (!handshake_ || session_);
}

void ServerSession::Log(const std::string& line) const {
  if (settings_.log) settings_.log(settings_.who + ": " + line);
}

bool ServerSession::Fail(std::uint32_t callId, std::uint32_t status, std::vector<Bytes>* replies) {
  replies->push_back(WriteFault(callId, 0, status, true));
  return false;
}

bool ServerSession::OnPdu(Bytes pdu, std::vector<Bytes>* replies) {
  auto parts = SplitPdu(pdu);
  if (!parts) {
    if (auto header = ReadHeader(pdu))
      replies->push_back(WriteFault(header->callId, 0, kFaultProtocolError, true));
    return false;
  }
  std::uint32_t callId = parts->header.callId;
  switch (parts->header.type) {
    case PduType::Bind:
      if (bound_) {
        replies->push_back(WriteBindNak(callId, RejectReason::NotSpecified));
        return false;
      }
      return OnBind(*parts, false, replies);
    case PduType::AlterContext:
      if (!bound_) return Fail(callId, kFaultProtocolError, replies);
      return OnBind(*parts, true, replies);
    case PduType::Auth3:
      if (!handshake_ || session_ || loginRefused_ || !parts->trailer)
        return Fail(callId, kFaultProtocolError, replies);
      FinishAuth(*parts->trailer, parts->authValue);
      return true;
    case PduType::Request:
      return OnRequest(pdu, *parts, replies);
    case PduType::CoCancel:
      return true;  // calls run to their end; their answers still come
    case PduType::Orphaned:
      if (pending_ && pending_->callId == callId) pending_.reset();
      return true;
    default:
      return Fail(callId, kFaultProtocolError, replies);
  }
}

bool ServerSession::OnBind(const PduParts& parts, bool alter, std::vector<Bytes>* replies) {
  std::uint32_t callId = parts.header.callId;
  auto refuse = [&](RejectReason reason) {
    if (alter)
      return Fail(callId,
                  reason == RejectReason::NotSpecified ? kFaultProtocolError : kFaultAccessDenied,
                  replies);
    replies->push_back(WriteBindNak(callId, reason));
    return false;
  };
  auto bind = ReadBind(parts.body);
  if (!bind) return refuse(RejectReason::NotSpecified);
  BindAckBody ack;
  if (!alter) {
    if (bind->maxRecvFrag < kMinFragment || bind->maxXmitFrag < kMinFragment)
      return refuse(RejectReason::LocalLimitExceeded);
    std::uint32_t group = settings_.groups->Join(bind->assocGroup);
    if (group == 0) return refuse(RejectReason::NotSpecified);
    caller_.associationGroup = group;
    maxXmit_ = std::min(bind->maxRecvFrag, kDefaultFragment);
    headerSign_ = parts.header.flags & kPfcSupportHeaderSign;
    ack.secondaryAddress = std::to_string(settings_.port);
  }
  ack.maxXmitFrag = maxXmit_;
  ack.maxRecvFrag = std::min(bind->maxXmitFrag, kDefaultFragment);
  ack.assocGroup = caller_.associationGroup;
  Bytes token;
  if (parts.trailer) {
    if (!handshake_) {
      if (!StartAuth(*parts.trailer, parts.authValue, &token))
        return refuse(RejectReason::AuthenticationTypeNotRecognized);
    } else if (!session_ && !loginRefused_) {
      if (!FinishAuth(*parts.trailer, parts.authValue))
        return Fail(callId, kFaultAccessDenied, replies);
    }
  }
  ack.results = Negotiate(*bind);
  bound_ = true;
  Bytes body = WriteBindAckBody(ack);
  PduType type = alter ? PduType::AlterContextResp : PduType::BindAck;
  std::uint8_t flags = kPfcFirstFrag | kPfcLastFrag | (headerSign_ ? kPfcSupportHeaderSign : 0);
  if (token.empty()) {
    replies->push_back(WritePdu(type, flags, callId, body));
  } else {
    SecTrailer trailer{kAuthTypeNtlm, security_.level, 0, security_.contextId};
    replies->push_back(WritePdu(type, flags, callId, body, trailer, token, token.size()));
  }
  return true;
}

std::vector<ContextResult> ServerSession::Negotiate(const BindBody& bind) {
  std::vector<ContextResult> results;
  for (const ContextElement& element : bind.contexts) {
    ContextResult result{kResultProviderRejection, kReasonTransferSyntaxesNotSupported, {}};
    bool ndr = false;
    std::optional<std::uint16_t> features;
    for (const SyntaxId& transfer : element.transfers) {
      ndr = ndr || SameSyntax(transfer, Ndr20Syntax());
      if (!features) features = OfferedFeatures(transfer);
    }
    if (features) {
      result = {kResultNegotiateAck,
                static_cast<std::uint16_t>(*features & kFeatureKeepConnectionOnOrphan),
                {}};
    } else if (!settings_.dispatcher->Supports(element.abstract)) {
      result.reason = kReasonAbstractSyntaxNotSupported;
    } else if (ndr) {
      result = {kResultAcceptance, 0, Ndr20Syntax()};
      contexts_[element.id] = element.abstract;
    }
    results.push_back(result);
  }
  return results;
}

bool ServerSession::StartAuth(const SecTrailer& trailer, ByteView token, Bytes* challenge) {
  if (trailer.authType != kAuthTypeNtlm || !Acceptable(trailer.level)) {
    Log("refused a bind from " + caller_.address + ": authentication type " +
        std::to_string(trailer.authType) + " at level " +
        std::to_string(static_cast<int>(trailer.level)) +
        " is not offered (NTLM at connect, packet integrity or packet privacy is)");
    return false;
  }
  handshake_.emplace(settings_.names, settings_.random, settings_.now);
  std::string why;
  auto answer = handshake_->Challenge(token, &why);
  if (!answer) {
    Log("refused a bind from " + caller_.address + ": " + why);
    return false;
  }
  // The call level is the packet level on connections.
  security_.level = trailer.level == AuthLevel::Call ? AuthLevel::Packet : trailer.level;
  security_.contextId = trailer.contextId;
  *challenge = std::move(*answer);
  return true;
}

bool ServerSession::FinishAuth(const SecTrailer& trailer, ByteView token) {
  std::vector<std::string> problems;
  std::vector<DcomAccount> accounts = settings_.accounts(&problems);
  for (const std::string& problem : problems) Log(problem);
  std::optional<DcomAccount> matched;
  std::string why;
  auto lookup = [&](const std::string& user,
                    const std::string& domain) -> std::optional<ntlm::Hash16> {
    matched = FindDcomAccount(accounts, user, domain, &why, settings_.names.netbiosComputer);
    return matched ? std::optional(matched->ntHash) : std::nullopt;
  };
  auto outcome = trailer.authType == kAuthTypeNtlm ? handshake_->Authenticate(token, lookup)
                                                   : ntlm::ServerHandshake::Outcome{};
  std::string who = outcome.domain + "\\" + outcome.user;
  switch (outcome.verdict) {
    case ntlm::ServerHandshake::Verdict::Accepted:
      session_ = std::move(outcome.session);
      security_.session = &*session_;
      caller_.level = security_.level;
      caller_.user = outcome.user;
      caller_.domain = outcome.domain;
      caller_.readOnly = matched->readOnly;
      Log(who + " logged in from " + caller_.address + " (" + LevelName(caller_.level) + ", " +
          (caller_.readOnly ? "read" : "readwrite") + ")");
      return true;
    case ntlm::ServerHandshake::Verdict::UnknownAccount:
      why = "unknown account (" + why + ")";
      break;
    case ntlm::ServerHandshake::Verdict::WrongPassword:
      why = "wrong password";
      break;
    case ntlm::ServerHandshake::Verdict::Refused:
      why = outcome.why.empty() ? "not NTLM" : outcome.why;
      break;
  }
  Log("refused the login of " + who + " from " + caller_.address + ": " + why);
  loginRefused_ = true;
  return false;
}

bool ServerSession::OnRequest(Bytes& pdu, const PduParts& parts, std::vector<Bytes>* replies) {
  std::uint32_t callId = parts.header.callId;
  if (!bound_) return Fail(callId, kFaultProtocolError, replies);
  if (loginRefused_ || (handshake_ && !session_)) return Fail(callId, kFaultAccessDenied, replies);
  auto request = ReadRequest(parts);
  std::string why;
  auto stub = request ? OpenFragment(pdu, security_, &why) : std::nullopt;
  if (!stub) {
    Log("closed the connection of " + caller_.address + ": " +
        (request ? why : "a malformed request"));
    return Fail(callId, security_.Signs() ? kFaultSecurityPackage : kFaultProtocolError, replies);
  }
  if (parts.header.flags & kPfcFirstFrag) {
    if (pending_) return Fail(callId, kFaultProtocolError, replies);
    pending_ = PendingCall{
        callId, request->contextId, request->opnum, request->hasObject, request->object, {}};
  } else if (!pending_ || pending_->callId != callId) {
    return Fail(callId, kFaultProtocolError, replies);
  }
  if (pending_->stub.size() + stub->size() > settings_.maxRequestBytes) {
    Log("closed the connection of " + caller_.address + ": a request larger than " +
        std::to_string(settings_.maxRequestBytes) + " bytes");
    return Fail(callId, kFaultProtocolError, replies);
  }
  pending_->stub.insert(pending_->stub.end(), stub->begin(), stub->end());
  if (!(parts.header.flags & kPfcLastFrag)) return true;
  PendingCall call = std::move(*pending_);
  pending_.reset();
  Dispatch(std::move(call), replies);
  return true;
}

void ServerSession::Dispatch(PendingCall call, std::vector<Bytes>* replies) {
  auto context = contexts_.find(call.contextId);
  if (context == contexts_.end()) {
    replies->push_back(WriteFault(call.callId, call.contextId, kFaultUnknownInterface, true));
    return;
  }
  if (caller_.level < settings_.minimumLevel) {
    replies->push_back(WriteFault(call.callId, call.contextId, kFaultAccessDenied, true));
    return;
  }
  // Windows clients append a verification trailer the stubs do not read.
  ByteView stub = ByteView(call.stub).first(VerificationTrailerStart(call.stub));
  Request request{caller_, context->second, call.opnum, call.hasObject, call.object, stub};
  Response response;
  try {
    response = settings_.dispatcher->Call(request);
  } catch (...) {
    response.fault = kServerFault;
  }
  if (response.fault) {
    replies->push_back(WriteFault(call.callId, call.contextId, response.fault, false));
    return;
  }
  for (Bytes& fragment : MakeFragments(PduType::Response, call.callId, call.contextId, 0, nullptr,
                                       response.stub, maxXmit_, security_))
    replies->push_back(std::move(fragment));
}

}  // namespace tagwell::dcom
