// The door of a TLS listener: the handshake with each new connection, and
// the authorized-clients file (rpc/Trust.h) deciding who comes in and with
// which rights. Every client let in and every refusal of a certificate is
// logged with the peer's address and certificate fingerprint; connections
// dropped before they showed one (unfinished, broken, or too many
// handshakes at once) are logged one line per burst.
//
// Handshakes in progress are capped, in all and per peer address: a new
// connection past either cap drops the oldest unfinished handshake (of
// all, or of that address), so that a flood of idle connections holds a
// bounded number of descriptors and a client that finishes its handshake
// gets in.
//
// Thread rules: those of the ObjectServer it admits for.
#pragma once

#include <chrono>
#include <list>
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
  // Unfinished handshakes at once, in all and from one address.
  std::size_t maxHandshakes = 64;
  std::size_t maxHandshakesPerAddress = 16;
  // Connections dropped within this time after a logged one are counted
  // and told in one line at its end.
  std::chrono::milliseconds logBurst = std::chrono::seconds(10);
  // The name in front of the log lines.
  std::string who = "tagwell rpc";
};

class TlsAdmission final : public Admission {
 public:
  // context must be a server's.
  TlsAdmission(std::unique_ptr<TlsContext> context, TlsAdmissionOptions options, kj::Timer& timer);
  ~TlsAdmission() noexcept override;

  kj::Promise<Admitted> Admit(kj::Own<kj::AsyncIoStream> stream) override;

 private:
  struct Visit;
  struct Unfinished {
    std::string address;
    kj::Own<kj::PromiseFulfiller<void>> drop;
    bool dropped = false;
  };
  // Whether the client with this fingerprint may come in; fills visit.
  bool Judge(Visit& visit, const std::string& fingerprint);
  // Drops the oldest unfinished handshake when address or all are at
  // their cap.
  void MakeRoom(const std::string& address);
  // Logs a connection dropped before it showed a certificate, or counts it
  // within a burst.
  void Dropped(const std::string& peer, const std::string& why);

  std::unique_ptr<TlsContext> context_;
  TlsAdmissionOptions options_;
  kj::Timer& timer_;
  std::list<Unfinished> unfinished_;  // oldest first
  std::size_t burstDrops_ = 0;
  kj::Maybe<kj::Promise<void>> burstEnd_;
};

// "ADDRESS port PORT" of the peer of a socket stream ("an unknown peer"
// when it has none).
std::string PeerName(kj::AsyncIoStream& stream);

}  // namespace tagwell::rpc
