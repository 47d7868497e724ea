// The server's side of remote access: its own key and certificate, the
// clients it lets in, and the TLS door of its TCP listener.
#pragma once

#include <kj/timer.h>

#include <memory>
#include <string>

#include "rpc/TlsAdmission.h"
#include "server/host/HostOptions.h"

namespace tagwell::host {

// --fingerprint: prints the SHA-256 fingerprint of the server's certificate
// (made first when there is none). Returns the exit status.
int PrintFingerprint();

// --authorize: adds the client to the authorized-clients file. Returns the
// exit status.
int AuthorizeClient(const HostOptions& options);

// The TLS door of the TCP listener, logging what it does, or nullptr with
// the reason in *error.
std::unique_ptr<rpc::TlsAdmission> MakeAdmission(const HostOptions& options, kj::Timer& timer,
                                                 std::string* error);

}  // namespace tagwell::host
