// TLS for the remote transport, on OpenSSL: the identities (a key and its
// self-signed certificate) of servers and clients, and a TLS stream under
// the Cap'n Proto connection.
//
// Nobody here trusts a certificate authority: each side names the other by
// the SHA-256 fingerprint of its certificate (uppercase hex pairs joined by
// colons, as `openssl x509 -fingerprint -sha256` prints it). A server decides
// during the handshake whether it knows the client; a client learns the
// server's fingerprint from the handshake and decides afterwards
// (rpc/Trust.h), before it sends a single call.
//
// Thread rules: a TlsContext may be shared by the threads that use it; a
// TlsStream is used on the thread of its event loop only.
#pragma once

#include <kj/async-io.h>
#include <kj/debug.h>
#include <kj/timer.h>
#include <openssl/types.h>

typedef struct ssl_session_st SSL_SESSION;

#include <functional>
#include <memory>
#include <string>

namespace tagwell::rpc {

// How the description of a client's failed handshake starts when the
// server refused its certificate.
inline constexpr char kRefusedByServer[] = "the server does not accept this computer's certificate";

// The SHA-256 fingerprint of a certificate.
std::string CertificateFingerprint(X509* certificate);

// A private key and the self-signed certificate that goes with it.
class TlsIdentity final {
 public:
  // Reads the key and the certificate from the PEM file at path (both in
  // one file, so that it appears whole or not at all). When there is none,
  // makes a new pair and writes it there with mode 0600, making missing
  // folders mode 0700 (*created is then true). A file that others may read
  // is refused, as ssh refuses such a key. nullptr with the reason in
  // *error otherwise.
  static std::shared_ptr<TlsIdentity> LoadOrCreate(const std::string& path, std::string* error,
                                                   bool* created = nullptr);
  TlsIdentity(EVP_PKEY* key, X509* certificate);
  ~TlsIdentity();
  TlsIdentity(const TlsIdentity&) = delete;
  TlsIdentity& operator=(const TlsIdentity&) = delete;

  EVP_PKEY* key() const { return key_; }
  X509* certificate() const { return certificate_; }
  const std::string& fingerprint() const { return fingerprint_; }

 private:
  EVP_PKEY* key_;
  X509* certificate_;
  std::string fingerprint_;
};

// What a server decides about a client's certificate, given its
// fingerprint, during the handshake: whether to let it in. The decision
// lands in TlsStream::peerAccepted() for the caller to log.
using PeerCheck = std::function<bool(const std::string& fingerprint)>;

class TlsStream;

class TlsContext final {
 public:
  enum class Role { Client, Server };

  // nullptr with the reason in *error when OpenSSL refuses the identity.
  static std::unique_ptr<TlsContext> Make(Role role, std::shared_ptr<TlsIdentity> identity,
                                          std::string* error);
  ~TlsContext();
  TlsContext(const TlsContext&) = delete;
  TlsContext& operator=(const TlsContext&) = delete;

  Role role() const { return role_; }
  const TlsIdentity& identity() const { return *identity_; }

  // Starts TLS on stream. A server asks check about the client's
  // certificate (a client takes the server's as it comes: see
  // TlsStream::peerFingerprint()). The promise resolves when the handshake
  // is done, for a client only once the server has accepted its
  // certificate. A handshake that fails breaks the promise with a
  // description fit for an operator.
  kj::Promise<kj::Own<TlsStream>> Handshake(kj::Own<kj::AsyncIoStream> stream,
                                            PeerCheck check = nullptr);

 private:
  TlsContext(Role role, std::shared_ptr<TlsIdentity> identity, SSL_CTX* context);

  Role role_;
  std::shared_ptr<TlsIdentity> identity_;
  SSL_CTX* context_;
};

// The TLS stream over a connected stream, after its handshake.
class TlsStream final : public kj::AsyncIoStream {
 public:
  TlsStream(SSL* ssl, bool client, kj::Own<kj::AsyncIoStream> inner, PeerCheck check);
  ~TlsStream() noexcept(false);

  // The fingerprint of the peer's certificate, once the handshake has seen
  // it ("" before, or when the peer sent none).
  const std::string& peerFingerprint() const { return peerFingerprint_; }
  bool peerAccepted() const { return peerAccepted_; }

  kj::Promise<size_t> tryRead(void* buffer, size_t minBytes, size_t maxBytes) override;
  kj::Promise<void> write(const void* buffer, size_t size) override;
  kj::Promise<void> write(kj::ArrayPtr<const kj::ArrayPtr<const kj::byte>> pieces) override;
  kj::Promise<void> whenWriteDisconnected() override;
  void shutdownWrite() override;
  void abortRead() override;
  void getsockopt(int level, int option, void* value, kj::uint* length) override;
  void setsockopt(int level, int option, const void* value, kj::uint length) override;
  void getsockname(struct sockaddr* addr, kj::uint* length) override;
  void getpeername(struct sockaddr* addr, kj::uint* length) override;

 private:
  friend class TlsContext;
  static int VerifyPeer(int preverified, X509_STORE_CTX* store);
  static int SessionArrived(SSL* ssl, SSL_SESSION* session);

  kj::Promise<void> Handshake();
  kj::Promise<void> AwaitVerdict();
  kj::Promise<size_t> ReadSome(kj::byte* buffer, size_t minBytes, size_t maxBytes, size_t done);
  // Reads what the peer sent next into OpenSSL; false at the end of the stream.
  kj::Promise<bool> Fill();
  // Sends everything OpenSSL has written, after what was queued before.
  kj::Promise<void> Flush();
  // The same without waiting for it (a failure shows at the next write).
  void Send();
  // The failure OpenSSL reports for a call that gave result, in words.
  kj::Exception Failure(int result);
  // Sends what OpenSSL wrote (an alert, say) and then fails.
  kj::Promise<void> FailAfterFlush(kj::Exception failure);

  SSL* ssl_;
  bool client_;
  BIO* in_;   // what the peer sent, for ssl_ to read (owned by ssl_)
  BIO* out_;  // what ssl_ wrote, to send (owned by ssl_)
  kj::Own<kj::AsyncIoStream> inner_;
  PeerCheck check_;
  std::string peerFingerprint_;
  bool peerAccepted_ = false;
  bool sessionSeen_ = false;
  kj::Array<kj::byte> readBuffer_;
  int queued_ = 0;  // writes on their way to inner_
  kj::ForkedPromise<void> writes_;
};

}  // namespace tagwell::rpc
