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
  Rights rights = Rights::ReadWrite;
  bool refused = false;  // by Judge, which said why
};

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

bool TlsAdmission::Judge(Visit& visit, const std::string& fingerprint) {
  const char* who = options_.who.c_str();
  std::vector<std::string> problems;
  auto clients = ReadAuthorizedClients(options_.authorizedClientsPath, &problems);
  for (const auto& problem : problems) Diagnose(who, "%s", problem.c_str());
  for (const auto& client : clients) {
    if (client.fingerprint != fingerprint) continue;
    visit.name = client.name;
    visit.rights = client.readOnly ? Rights::ReadOnly : Rights::ReadWrite;
    return true;
  }
  if (options_.allowAnyClient) {
    visit.name = "(any client)";
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
  auto handshake = context_->Handshake(
      kj::mv(stream), [this, visit](const std::string& print) { return Judge(*visit, print); });
  auto timeout = timer_.afterDelay(options_.handshakeTimeout.count() * kj::MILLISECONDS)
                     .then([]() -> kj::Own<TlsStream> {
                       kj::throwFatalException(KJ_EXCEPTION(DISCONNECTED, "not finished in time"));
                     });
  const char* who = options_.who.c_str();
  return handshake.exclusiveJoin(kj::mv(timeout))
      .then(
          [visit, who](kj::Own<TlsStream> tls) {
            Diagnose(who, "client \"%s\" at %s (%s)%s", visit->name.c_str(), visit->peer.c_str(),
                     tls->peerFingerprint().c_str(),
                     visit->rights == Rights::ReadOnly ? ", read only" : "");
            return Admitted{kj::mv(tls), visit->rights};
          },
          [visit, who](kj::Exception&& failure) -> Admitted {
            if (!visit->refused)
              Diagnose(who, "refused %s: TLS handshake failed: %s", visit->peer.c_str(),
                       failure.getDescription().cStr());
            kj::throwFatalException(kj::mv(failure));
          });
}

}  // namespace tagwell::rpc
