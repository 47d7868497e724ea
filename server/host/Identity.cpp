#include "server/host/Identity.h"

#include <cstdio>

#include "rpc/Diagnostics.h"
#include "rpc/Trust.h"

namespace tagwell::host {

namespace {

constexpr const char* kWho = "tagwell-server";

std::shared_ptr<rpc::TlsIdentity> ServerIdentity(std::string* error) {
  bool created = false;
  const std::string path = rpc::ServerIdentityPath();
  auto identity = rpc::TlsIdentity::LoadOrCreate(path, error, &created);
  if (identity && created)
    rpc::Diagnose(kWho, "made the server's key and certificate in %s", path.c_str());
  return identity;
}

}  // namespace

int PrintFingerprint() {
  std::string error;
  auto identity = ServerIdentity(&error);
  if (!identity) {
    rpc::Diagnose(kWho, "%s", error.c_str());
    return 1;
  }
  std::printf("%s\n", identity->fingerprint().c_str());
  return 0;
}

int AuthorizeClient(const HostOptions& options) {
  rpc::AuthorizedClient client{options.authorizeFingerprint, options.authorizeName,
                               options.readOnly};
  std::string error;
  const std::string path = rpc::AuthorizedClientsPath();
  if (!rpc::AuthorizeClient(path, client, &error)) {
    rpc::Diagnose(kWho, "%s", error.c_str());
    return 1;
  }
  std::printf("authorized \"%s\" (%s) to %s, in %s\n", client.name.c_str(),
              client.fingerprint.c_str(), client.readOnly ? "read" : "read and write",
              path.c_str());
  return 0;
}

std::unique_ptr<rpc::TlsAdmission> MakeAdmission(const HostOptions& options, kj::Timer& timer,
                                                 std::string* error) {
  auto identity = ServerIdentity(error);
  if (!identity) return nullptr;
  auto context = rpc::TlsContext::Make(rpc::TlsContext::Role::Server, identity, error);
  if (!context) return nullptr;
  rpc::TlsAdmissionOptions admission;
  admission.authorizedClientsPath = rpc::AuthorizedClientsPath();
  admission.allowAnyClient = options.allowAnyClient;
  admission.who = kWho;
  rpc::Diagnose(kWho, "certificate SHA-256 fingerprint %s", identity->fingerprint().c_str());
  if (options.allowAnyClient) {
    rpc::Diagnose(kWho,
                  "warning: --allow-any-client: every client that reaches the port may read "
                  "and write every item");
  } else {
    std::vector<std::string> problems;
    if (rpc::ReadAuthorizedClients(admission.authorizedClientsPath, &problems).empty())
      rpc::Diagnose(kWho,
                    "no client is authorized yet (%s): a client is let in after "
                    "tagwell-server --authorize FINGERPRINT NAME",
                    admission.authorizedClientsPath.c_str());
  }
  return std::make_unique<rpc::TlsAdmission>(std::move(context), std::move(admission), timer);
}

}  // namespace tagwell::host
