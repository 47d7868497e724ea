#include "rpc/TlsAdmission.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include "rpc/Diagnostics.h"
#include "rpc/Trust.h"

namespace tagwell::rpc {

// What one handshake learns about its client.
struct TlsAdmission::Visit {
  std::string peer;
  std::string name;
  // Nothing until Judge has read the client's line: a handshake that never
  // showed a certificate (a resumed session) gets no rights.
  Rights rights = Rights::ReadOnly;
  bool judged = false;
  bool refused = false;  // by Judge, which said why
};

namespace {

// The address part of PeerName's "ADDRESS port PORT".
std::string AddressOf(const std::string& peer) {
  return peer.substr(0, peer.find(" port "));
}

}  // namespace

std::string PeerName(kj::AsyncIoStream& stream) {
  sockaddr_storage address{};
  kj::uint length = sizeof address;
  char text[INET6_ADDRSTRLEN] = "";
  try {
    stream.getpeername(reinterpret_cast<sockaddr*>(&address), &length);
  } catch (const kj::Exception&) {
    return "an unknown peer";
  }
  unsigned port = 0;
  if (address.ss_family == AF_INET) {
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
    port = ntohs(v4->sin_port);
  } else if (address.ss_family == AF_INET6) {
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    port = ntohs(v6->sin6_port);
  } else {
    return "a local peer";
  }
  return std::string(text) + " port " + std::to_string(port);
}

TlsAdmission::TlsAdmission(std::unique_ptr<TlsContext> context, TlsAdmissionOptions options,
                           kj::Timer& timer)
    : context_(std::move(context)), options_(std::move(options)), timer_(timer) {}

TlsAdmission::~TlsAdmission() noexcept {
  if (burstDrops_ > 0)
    Diagnose(options_.who.c_str(), "refused %zu more connections before their TLS handshake",
             burstDrops_);
}

void TlsAdmission::MakeRoom(const std::string& address) {
  std::size_t all = 0;
  std::size_t same = 0;
  for (const Unfinished& u : unfinished_) {
    if (u.dropped) continue;
    ++all;
    if (u.address == address) ++same;
  }
  const bool sameFull = same >= options_.maxHandshakesPerAddress;
  if (!sameFull && all < options_.maxHandshakes) return;
  for (Unfinished& u : unfinished_) {
    if (u.dropped || (sameFull && u.address != address)) continue;
    u.dropped = true;
    u.drop->fulfill();
    return;
  }
}

void TlsAdmission::Dropped(const std::string& peer, const std::string& why) {
  if (burstEnd_ != nullptr) {
    ++burstDrops_;
    return;
  }
  Diagnose(options_.who.c_str(), "refused %s: %s", peer.c_str(), why.c_str());
  burstEnd_ = timer_.afterDelay(options_.logBurst.count() * kj::MILLISECONDS)
                  .then([this] {
                    if (burstDrops_ > 0)
                      Diagnose(options_.who.c_str(),
                               "refused %zu more connections before their TLS handshake was "
                               "done (unfinished, broken, or too many at once)",
                               burstDrops_);
                    burstDrops_ = 0;
                    burstEnd_ = nullptr;
                  })
                  .eagerlyEvaluate(nullptr);
}

bool TlsAdmission::Judge(Visit& visit, const std::string& fingerprint) {
  const char* who = options_.who.c_str();
  std::vector<std::string> problems;
  auto clients = ReadAuthorizedClients(options_.authorizedClientsPath, &problems);
  for (const auto& problem : problems) Diagnose(who, "%s", problem.c_str());
  for (const auto& client : clients) {
    if (client.fingerprint != fingerprint) continue;
    visit.name = client.name;
    visit.rights = client.readOnly ? Rights::ReadOnly : Rights::ReadWrite;
    visit.judged = true;
    return true;
  }
  if (options_.allowAnyClient) {
    visit.name = "(any client)";
    visit.rights = Rights::ReadWrite;
    visit.judged = true;
    return true;
  }
  visit.refused = true;
  Diagnose(who,
           "refused the client at %s: its certificate %s is not in %s; to let it in: "
           "tagwell-server --authorize %s NAME [--read-only]",
           visit.peer.c_str(), fingerprint.c_str(), options_.authorizedClientsPath.c_str(),
           fingerprint.c_str());
  return false;
}

kj::Promise<Admission::Admitted> TlsAdmission::Admit(kj::Own<kj::AsyncIoStream> stream) {
  auto visit = std::make_shared<Visit>();
  visit->peer = PeerName(*stream);
  const std::string address = AddressOf(visit->peer);
  MakeRoom(address);
  auto drop = kj::newPromiseAndFulfiller<void>();
  auto entry = unfinished_.insert(unfinished_.end(), Unfinished{address, kj::mv(drop.fulfiller)});
  auto handshake = context_->Handshake(
      kj::mv(stream), [this, visit](const std::string& print) { return Judge(*visit, print); });
  auto timeout = timer_.afterDelay(options_.handshakeTimeout.count() * kj::MILLISECONDS)
                     .then([]() -> kj::Own<TlsStream> {
                       kj::throwFatalException(KJ_EXCEPTION(DISCONNECTED, "not finished in time"));
                     });
  auto crowded = drop.promise.then([]() -> kj::Own<TlsStream> {
    kj::throwFatalException(
        KJ_EXCEPTION(DISCONNECTED, "too many unfinished handshakes, the oldest dropped"));
  });
  const char* who = options_.who.c_str();
  return handshake.exclusiveJoin(kj::mv(timeout))
      .exclusiveJoin(kj::mv(crowded))
      .then([visit, who](kj::Own<TlsStream> tls) {
        if (!visit->judged)
          kj::throwFatalException(KJ_EXCEPTION(FAILED, "the client showed no certificate"));
        Diagnose(who, "client \"%s\" at %s (%s)%s", visit->name.c_str(), visit->peer.c_str(),
                 tls->peerFingerprint().c_str(),
                 visit->rights == Rights::ReadOnly ? ", read only" : "");
        return Admitted{kj::mv(tls), visit->rights};
      })
      .catch_([this, visit](kj::Exception&& failure) -> Admitted {
        if (!visit->refused)
          Dropped(visit->peer,
                  std::string("TLS handshake failed: ") + failure.getDescription().cStr());
        kj::throwFatalException(kj::mv(failure));
      })
      .attach(kj::defer([this, entry] { unfinished_.erase(entry); }));
}

}  // namespace tagwell::rpc
