#include "rpc/Tls.h"

#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "rpc/Endpoint.h"
#include "rpc/Trust.h"

namespace tagwell::rpc {

namespace {

// Certificates are names here, not promises of a date.
constexpr long kValidDays = 100 * 365;
constexpr std::size_t kReadChunk = 16 * 1024;
// Pieces of a write up to this size go out as one TLS record.
constexpr std::size_t kCoalesce = 16 * 1024;

int StreamIndex() {
  static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

// A failure with text as its whole description (KJ_EXCEPTION would name
// the variable too).
kj::Exception Broken(const std::string& text) {
  return kj::Exception(kj::Exception::Type::DISCONNECTED, __FILE__, __LINE__, kj::heapString(text));
}

std::string OpenSslError(const char* fallback) {
  unsigned long code = ERR_peek_last_error();
  const char* reason = code ? ERR_reason_error_string(code) : nullptr;
  ERR_clear_error();
  return reason ? reason : fallback;
}

X509* SelfSigned(EVP_PKEY* key) {
  X509* certificate = X509_new();
  if (!certificate) return nullptr;
  BIGNUM* serial = BN_new();
  char host[256] = "tagwell";
  ::gethostname(host, sizeof host - 1);
  std::string name = std::string("tagwell ") + host;
  X509_NAME* subject = X509_get_subject_name(certificate);
  bool made =
      serial && BN_rand(serial, 63, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) &&
      BN_to_ASN1_INTEGER(serial, X509_get_serialNumber(certificate)) &&
      X509_set_version(certificate, 2) &&
      X509_gmtime_adj(X509_getm_notBefore(certificate), -3600) &&
      X509_time_adj_ex(X509_getm_notAfter(certificate), kValidDays, 0, nullptr) &&
      X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                                 reinterpret_cast<const unsigned char*>(name.c_str()), -1, -1, 0) &&
      X509_set_issuer_name(certificate, subject) && X509_set_pubkey(certificate, key) &&
      X509_sign(certificate, key, EVP_sha256()) > 0;
  BN_free(serial);
  if (made) return certificate;
  X509_free(certificate);
  return nullptr;
}

// Writes key and certificate to a new file beside path and links it in
// place, so a reader never sees half of it; false when the link finds
// another process's file there already (EEXIST) or anything else fails.
bool Store(const std::string& path, EVP_PKEY* key, X509* certificate, std::string* error) {
  std::string temporary = path + ".new" + std::to_string(::getpid());
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    *error = "cannot write " + temporary + ": " + std::strerror(errno);
    return false;
  }
  FILE* file = ::fdopen(fd, "w");
  bool written = file && PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr) &&
                 PEM_write_X509(file, certificate);
  if (file ? std::fclose(file) != 0 : ::close(fd) != 0) written = false;
  bool linked = written && ::link(temporary.c_str(), path.c_str()) == 0;
  int reason = errno;
  ::unlink(temporary.c_str());
  if (!written) *error = "cannot write " + temporary;
  if (written && !linked) {
    errno = reason;
    if (reason != EEXIST) *error = "cannot create " + path + ": " + std::strerror(reason);
  }
  return linked;
}

std::shared_ptr<TlsIdentity> Load(const std::string& path, std::string* error) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && (info.st_mode & 0077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%03o", static_cast<unsigned>(info.st_mode & 0777));
    *error = path + " holds a private key and has mode " + mode + ": make it 600 (chmod 600 " +
             path + ")";
    return nullptr;
  }
  FILE* file = std::fopen(path.c_str(), "re");
  if (!file) {
    *error = "cannot read " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  EVP_PKEY* key = PEM_read_PrivateKey(file, nullptr, nullptr, nullptr);
  X509* certificate = key ? PEM_read_X509(file, nullptr, nullptr, nullptr) : nullptr;
  std::fclose(file);
  if (!key || !certificate || X509_check_private_key(certificate, key) != 1) {
    EVP_PKEY_free(key);
    X509_free(certificate);
    ERR_clear_error();
    *error = path + " does not hold a private key and its certificate";
    return nullptr;
  }
  return std::make_shared<TlsIdentity>(key, certificate);
}

}  // namespace

std::string CertificateFingerprint(X509* certificate) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  if (!certificate || X509_digest(certificate, EVP_sha256(), digest, &length) != 1) return {};
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned i = 0; i < length; ++i) {
    if (i) text += ':';
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 15];
  }
  return text;
}

// --- TlsIdentity -----------------------------------------------------------

std::shared_ptr<TlsIdentity> TlsIdentity::LoadOrCreate(const std::string& path, std::string* error,
                                                       bool* created) {
  if (created) *created = false;
  if (::access(path.c_str(), F_OK) == 0) return Load(path, error);
  if (!MakePrivateFolders(FolderOf(path))) {
    *error = "cannot create " + FolderOf(path) + ": " + std::strerror(errno);
    return nullptr;
  }
  EVP_PKEY* key = EVP_EC_gen("P-256");
  X509* certificate = key ? SelfSigned(key) : nullptr;
  if (!certificate) {
    EVP_PKEY_free(key);
    *error = "cannot make a key and certificate: " + OpenSslError("OpenSSL failed");
    return nullptr;
  }
  auto identity = std::make_shared<TlsIdentity>(key, certificate);
  if (Store(path, key, certificate, error)) {
    if (created) *created = true;
    return identity;
  }
  // Another process made one at the same moment: that one counts.
  return errno == EEXIST ? Load(path, error) : nullptr;
}

TlsIdentity::TlsIdentity(EVP_PKEY* key, X509* certificate)
    : key_(key), certificate_(certificate), fingerprint_(CertificateFingerprint(certificate)) {}

TlsIdentity::~TlsIdentity() {
  X509_free(certificate_);
  EVP_PKEY_free(key_);
}

// --- TlsContext ------------------------------------------------------------

std::unique_ptr<TlsContext> TlsContext::Make(Role role, std::shared_ptr<TlsIdentity> identity,
                                             std::string* error) {
  SSL_CTX* context = SSL_CTX_new(role == Role::Client ? TLS_client_method() : TLS_server_method());
  if (!context) {
    *error = OpenSslError("cannot set TLS up");
    return nullptr;
  }
  std::unique_ptr<TlsContext> made(new TlsContext(role, std::move(identity), context));
  if (SSL_CTX_set_min_proto_version(context, TLS1_3_VERSION) != 1 ||
      SSL_CTX_use_certificate(context, made->identity_->certificate()) != 1 ||
      SSL_CTX_use_PrivateKey(context, made->identity_->key()) != 1) {
    *error = OpenSslError("OpenSSL refuses the key");
    return nullptr;
  }
  // Every certificate gets to the check, which judges it by its
  // fingerprint alone; a server insists on seeing one.
  int verify = SSL_VERIFY_PEER | (role == Role::Server ? SSL_VERIFY_FAIL_IF_NO_PEER_CERT : 0);
  SSL_CTX_set_verify(context, verify, &TlsStream::VerifyPeer);
  if (role == Role::Server) {
    // The one ticket a server sends after a handshake tells the client it
    // was let in. Nobody resumes a session here: a resumed session shows no
    // certificate to judge. The ticket is a stateful one (SSL_OP_NO_TICKET
    // under TLS 1.3) naming a session that no cache keeps, so a client that
    // offers it gets a full handshake.
    SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);
    SSL_CTX_set_options(context, SSL_OP_NO_TICKET);
    SSL_CTX_set_num_tickets(context, 1);
  } else {
    SSL_CTX_set_session_cache_mode(context,
                                   SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(context, &TlsStream::SessionArrived);
  }
  return made;
}

TlsContext::TlsContext(Role role, std::shared_ptr<TlsIdentity> identity, SSL_CTX* context)
    : role_(role), identity_(std::move(identity)), context_(context) {}

TlsContext::~TlsContext() {
  SSL_CTX_free(context_);
}

kj::Promise<kj::Own<TlsStream>> TlsContext::Handshake(kj::Own<kj::AsyncIoStream> stream,
                                                      PeerCheck check) {
  SSL* ssl = SSL_new(context_);
  if (!ssl) return Broken(OpenSslError("cannot start TLS"));
  bool client = role_ == Role::Client;
  if (client)
    SSL_set_connect_state(ssl);
  else
    SSL_set_accept_state(ssl);
  auto tls = kj::heap<TlsStream>(ssl, client, kj::mv(stream), std::move(check));
  auto& ref = *tls;
  return ref.Handshake().then([tls = kj::mv(tls)]() mutable { return kj::mv(tls); });
}

// --- TlsStream -------------------------------------------------------------

TlsStream::TlsStream(SSL* ssl, bool client, kj::Own<kj::AsyncIoStream> inner, PeerCheck check)
    : ssl_(ssl),
      client_(client),
      in_(BIO_new(BIO_s_mem())),
      out_(BIO_new(BIO_s_mem())),
      inner_(kj::mv(inner)),
      check_(std::move(check)),
      readBuffer_(kj::heapArray<kj::byte>(kReadChunk)),
      writes_(kj::Promise<void>(kj::READY_NOW).fork()) {
  // An empty input means "not yet", not the end of the stream.
  BIO_set_mem_eof_return(in_, -1);
  SSL_set_bio(ssl_, in_, out_);
  SSL_set_ex_data(ssl_, StreamIndex(), this);
}

TlsStream::~TlsStream() noexcept(false) {
  SSL_free(ssl_);
}

int TlsStream::VerifyPeer(int, X509_STORE_CTX* store) {
  auto* ssl =
      static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  auto* self = ssl ? static_cast<TlsStream*>(SSL_get_ex_data(ssl, StreamIndex())) : nullptr;
  if (!self) return 0;
  // Only the peer's own certificate names it; what it sends along does not
  // matter. OpenSSL asks once per complaint it has (self-signed, ...).
  if (X509_STORE_CTX_get_error_depth(store) != 0) return 1;
  std::string fingerprint = CertificateFingerprint(X509_STORE_CTX_get_current_cert(store));
  if (fingerprint != self->peerFingerprint_) {
    self->peerFingerprint_ = fingerprint;
    self->peerAccepted_ = !self->check_ || self->check_(fingerprint);
  }
  if (self->peerAccepted_) return 1;
  X509_STORE_CTX_set_error(store, X509_V_ERR_CERT_REJECTED);
  return 0;
}

int TlsStream::SessionArrived(SSL* ssl, SSL_SESSION*) {
  if (auto* self = static_cast<TlsStream*>(SSL_get_ex_data(ssl, StreamIndex())))
    self->sessionSeen_ = true;
  return 0;  // not kept
}

kj::Promise<void> TlsStream::Handshake() {
  ERR_clear_error();
  int result = SSL_do_handshake(ssl_);
  if (result == 1) {
    if (!client_) return Flush();
    peerAccepted_ = true;
    return Flush().then([this] { return AwaitVerdict(); });
  }
  if (SSL_get_error(ssl_, result) != SSL_ERROR_WANT_READ) return FailAfterFlush(Failure(result));
  Send();
  return Fill().then([this](bool more) -> kj::Promise<void> {
    if (!more)
      return KJ_EXCEPTION(DISCONNECTED, "the peer closed the connection during the TLS handshake");
    return Handshake();
  });
}

// A TLS 1.3 server judges the client's certificate after the client has
// finished its part of the handshake: the server's session ticket (or data)
// says it was let in, an alert that it was not.
kj::Promise<void> TlsStream::AwaitVerdict() {
  if (sessionSeen_) return kj::READY_NOW;
  ERR_clear_error();
  char peek;
  size_t count = 0;
  int result = SSL_peek_ex(ssl_, &peek, 1, &count);
  if (result == 1 || sessionSeen_) return kj::READY_NOW;
  if (SSL_get_error(ssl_, result) != SSL_ERROR_WANT_READ) return Failure(result);
  Send();
  return Fill().then([this](bool more) -> kj::Promise<void> {
    if (!more)
      return KJ_EXCEPTION(DISCONNECTED, "the server closed the connection after the handshake");
    return AwaitVerdict();
  });
}

kj::Exception TlsStream::Failure(int result) {
  int error = SSL_get_error(ssl_, result);
  unsigned long code = ERR_peek_last_error();
  int reason = ERR_GET_REASON(code);
  std::string text = OpenSslError(error == SSL_ERROR_SYSCALL ? "the connection failed"
                                                             : "the TLS protocol failed");
  if (client_ && (reason == SSL_R_SSLV3_ALERT_BAD_CERTIFICATE ||
                  reason == SSL_R_SSLV3_ALERT_CERTIFICATE_UNKNOWN ||
                  reason == SSL_R_TLSV13_ALERT_CERTIFICATE_REQUIRED ||
                  reason == SSL_R_TLSV1_ALERT_ACCESS_DENIED)) {
    text = std::string(kRefusedByServer) + " (" + text + ")";
  }
  return Broken(text);
}

kj::Promise<void> TlsStream::FailAfterFlush(kj::Exception failure) {
  return Flush().then(
      [failure = kj::mv(failure)]() mutable -> kj::Promise<void> { return kj::mv(failure); });
}

kj::Promise<bool> TlsStream::Fill() {
  return inner_->tryRead(readBuffer_.begin(), 1, readBuffer_.size()).then([this](size_t count) {
    if (count == 0) return false;
    BIO_write(in_, readBuffer_.begin(), static_cast<int>(count));
    return true;
  });
}

kj::Promise<void> TlsStream::Flush() {
  size_t pending = BIO_ctrl_pending(out_);
  if (pending == 0) return queued_ == 0 ? kj::Promise<void>(kj::READY_NOW) : writes_.addBranch();
  auto bytes = kj::heapArray<kj::byte>(pending);
  BIO_read(out_, bytes.begin(), static_cast<int>(pending));
  // Straight to the socket when nothing is on its way there.
  auto sent = queued_ == 0 ? inner_->write(bytes.begin(), bytes.size()).attach(kj::mv(bytes))
                           : writes_.addBranch().then([this, bytes = kj::mv(bytes)]() mutable {
                               auto written = inner_->write(bytes.begin(), bytes.size());
                               return written.attach(kj::mv(bytes));
                             });
  ++queued_;
  writes_ = sent.then([this] { --queued_; },
                      [this](kj::Exception&& failure) {
                        --queued_;
                        kj::throwFatalException(kj::mv(failure));
                      })
                .fork();
  return writes_.addBranch();
}

void TlsStream::Send() {
  if (BIO_ctrl_pending(out_) != 0) (void)Flush();
}

kj::Promise<size_t> TlsStream::tryRead(void* buffer, size_t minBytes, size_t maxBytes) {
  return ReadSome(static_cast<kj::byte*>(buffer), minBytes, maxBytes, 0);
}

kj::Promise<size_t> TlsStream::ReadSome(kj::byte* buffer, size_t minBytes, size_t maxBytes,
                                        size_t done) {
  while (done < maxBytes) {
    size_t count = 0;
    ERR_clear_error();
    int result = SSL_read_ex(ssl_, buffer + done, maxBytes - done, &count);
    if (result == 1) {
      done += count;
      continue;
    }
    int error = SSL_get_error(ssl_, result);
    if (error == SSL_ERROR_ZERO_RETURN || done >= minBytes) return done;
    if (error != SSL_ERROR_WANT_READ) return Failure(result);
    return Flush()
        .then([this] { return Fill(); })
        .then([this, buffer, minBytes, maxBytes, done](bool more) -> kj::Promise<size_t> {
          if (!more) return done;
          return ReadSome(buffer, minBytes, maxBytes, done);
        });
  }
  return done;
}

kj::Promise<void> TlsStream::write(const void* buffer, size_t size) {
  if (size == 0) return kj::READY_NOW;
  size_t written = 0;
  ERR_clear_error();
  int result = SSL_write_ex(ssl_, buffer, size, &written);
  if (result != 1) return Failure(result);
  return Flush();
}

kj::Promise<void> TlsStream::write(kj::ArrayPtr<const kj::ArrayPtr<const kj::byte>> pieces) {
  size_t total = 0;
  for (auto& piece : pieces) total += piece.size();
  if (total <= kCoalesce) {
    auto whole = kj::heapArray<kj::byte>(total);
    size_t at = 0;
    for (auto& piece : pieces) {
      if (piece.size() != 0) std::memcpy(whole.begin() + at, piece.begin(), piece.size());
      at += piece.size();
    }
    return write(whole.begin(), whole.size());
  }
  for (auto& piece : pieces) {
    size_t written = 0;
    ERR_clear_error();
    if (piece.size() == 0) continue;
    int result = SSL_write_ex(ssl_, piece.begin(), piece.size(), &written);
    if (result != 1) return Failure(result);
  }
  return Flush();
}

kj::Promise<void> TlsStream::whenWriteDisconnected() {
  return inner_->whenWriteDisconnected();
}

void TlsStream::shutdownWrite() {
  SSL_shutdown(ssl_);
  ERR_clear_error();
  writes_ = Flush()
                .then([this] { inner_->shutdownWrite(); },
                      [this](kj::Exception&&) { inner_->shutdownWrite(); })
                .fork();
}

void TlsStream::abortRead() {
  inner_->abortRead();
}

void TlsStream::getsockopt(int level, int option, void* value, kj::uint* length) {
  inner_->getsockopt(level, option, value, length);
}

void TlsStream::setsockopt(int level, int option, const void* value, kj::uint length) {
  inner_->setsockopt(level, option, value, length);
}

void TlsStream::getsockname(struct sockaddr* addr, kj::uint* length) {
  inner_->getsockname(addr, length);
}

void TlsStream::getpeername(struct sockaddr* addr, kj::uint* length) {
  inner_->getpeername(addr, length);
}

}  // namespace tagwell::rpc
