// The door of a TLS listener: the handshake with each new connection, and
// the authorized-clients file (rpc/Trust.h) deciding who comes in and with
// which rights. Every refusal and every client let in is logged with the
// peer's address and certificate fingerprint.
//
// Thread rules: those of the ObjectServer it admits for.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "rpc/ObjectServer.h"
#include "rpc/Tls.h"

namespace tagwell::rpc {

struct TlsAdmissionOptions {
  // The clients let in; read at every handshake, so that a client
  // authorized while the server runs gets in at once.
  std::string authorizedClientsPath;
  // Lets every client in with full rights (each is still logged).
  bool allowAnyClient = false;
  // A peer that has not finished its handshake by then is dropped.
  std::chrono::milliseconds handshakeTimeout = std::chrono::seconds(10);
  // The name in front of the log lines.
  std::string who = "tagwell rpc";
};

class TlsAdmission final : public Admission {
 public:
  // context must be a server's.
  TlsAdmission(std::unique_ptr<TlsContext> context, TlsAdmissionOptions options, kj::Timer& timer);

  kj::Promise<Admitted> Admit(kj::Own<kj::AsyncIoStream> stream) override;

 private:
  struct Visit;
  // Whether the client with this fingerprint may come in; fills visit.
  bool Judge(Visit& visit, const std::string& fingerprint);

  std::unique_ptr<TlsContext> context_;
  TlsAdmissionOptions options_;
  kj::Timer& timer_;
};

// "ADDRESS port PORT" of the peer of a socket stream ("an unknown peer"
// when it has none).
std::string PeerName(kj::AsyncIoStream& stream);

}  // namespace tagwell::rpc
