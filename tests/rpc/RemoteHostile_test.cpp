// Hostile peers on the server's TLS port, on loopback and bounded in time
// and count: the server drops them, logs them, and keeps serving an
// authorized client throughout.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <random>

#include "platform/com/Text.h"
#include "rpc/ServerThread.h"
#include "rpc/Tls.h"
#include "rpc/Trust.h"
#include "server/Simulation.h"
#include "tests/rpc/RemoteFixture.h"
#include "tests/rpc/peer/OpcSession.h"

namespace tagwell::testing {
namespace {

using namespace com;

const std::u16string kClsid = Utf8ToUtf16(FormatGuid(server::CLSID_TagwellSimulation));

// A plain TCP connection to the port on loopback; -1 on failure.
int RawConnect(const std::string& port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(std::stoi(port)));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Whether the server closed fd within 5 s (what it sent before is read
// and dropped).
bool ClosedByServer(int fd) {
  char buffer[4096];
  for (int rounds = 0; rounds < 500; ++rounds) {
    pollfd waiting{fd, POLLIN, 0};
    if (::poll(&waiting, 1, 10) <= 0) continue;
    ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count <= 0) return true;
  }
  return false;
}

// The first bytes a TLS client sends: its ClientHello.
std::string ClientHello() {
  SSL_CTX* context = SSL_CTX_new(TLS_client_method());
  SSL* ssl = SSL_new(context);
  BIO* in = BIO_new(BIO_s_mem());
  BIO* out = BIO_new(BIO_s_mem());
  SSL_set_bio(ssl, in, out);
  SSL_connect(ssl);
  std::string hello(BIO_ctrl_pending(out), '\0');
  BIO_read(out, hello.data(), static_cast<int>(hello.size()));
  SSL_free(ssl);
  SSL_CTX_free(context);
  return hello;
}

int CountOf(const std::string& text, const std::string& piece) {
  int count = 0;
  for (auto at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++count;
  return count;
}

std::string Noise(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(random());
  return bytes;
}

class HostileTest : public RemoteFixture {
 protected:
  void SetUp() override {
    RemoteFixture::SetUp();
    Authorize({});
    prompt_.answers = {true};
    ASSERT_EQ(session_.Connect(kClsid, Computer("localhost")), S_OK) << Log();
    ASSERT_EQ(session_.AddItem(u"OPC.ConnectionMonitor", &monitor_), S_OK);
  }
  void TearDown() override {
    session_.Release();
    RemoteFixture::TearDown();  // the server exits cleanly: it did not crash
  }

  void ExpectServing() {
    Variant value;
    EXPECT_EQ(session_.Read(monitor_, &value), S_OK) << Log();
  }

  OpcSession session_;
  OPCHANDLE monitor_ = 0;
};

TEST_F(HostileTest, GarbageAndTruncatedHandshakesAreDroppedAndLogged) {
  const std::string hello = ClientHello();
  ASSERT_GT(hello.size(), 10u);
  const struct {
    const char* what;
    std::string bytes;
  } peers[] = {
      {"text", "GET / HTTP/1.0\r\n\r\n"},
      {"noise", Noise(4096, 1)},
      {"a record header only", hello.substr(0, 5)},
      {"half a ClientHello", hello.substr(0, hello.size() / 2)},
      {"a ClientHello and then noise", hello + Noise(512, 2)},
  };
  for (const auto& peer : peers) {
    int fd = RawConnect(Port());
    ASSERT_GE(fd, 0) << peer.what;
    ASSERT_EQ(::write(fd, peer.bytes.data(), peer.bytes.size()),
              static_cast<ssize_t>(peer.bytes.size()));
    ::shutdown(fd, SHUT_WR);
    EXPECT_TRUE(ClosedByServer(fd)) << peer.what;
    ::close(fd);
    ExpectServing();
  }
  EXPECT_NE(Log().find("refused 127.0.0.1 port"), std::string::npos) << Log();
}

TEST_F(HostileTest, ASilentPeerStallsNobody) {
  int silent = RawConnect(Port());
  ASSERT_GE(silent, 0);
  for (int i = 0; i < 3; ++i) ExpectServing();
  OpcSession another;
  EXPECT_EQ(another.Connect(kClsid, Computer("localhost")), S_OK) << Log();
  ::close(silent);
}

TEST_F(HostileTest, TwoHundredConnectionsAtOnce) {
  const std::string hello = ClientHello();
  std::vector<int> peers;
  for (int i = 0; i < 200; ++i) {
    int fd = RawConnect(Port());
    if (fd < 0) continue;
    peers.push_back(fd);
    std::string bytes = i % 3 == 0 ? Noise(64, i) : i % 3 == 1 ? hello.substr(0, 40) : "";
    if (!bytes.empty()) (void)!::write(fd, bytes.data(), bytes.size());
  }
  EXPECT_GE(peers.size(), 150u);
  ExpectServing();
  OpcSession another;
  EXPECT_EQ(another.Connect(kClsid, Computer("localhost")), S_OK) << Log();
  for (int fd : peers) ::close(fd);
  ExpectServing();
  EXPECT_EQ(::kill(server_->pid(), 0), 0);
}

// A flood of idle connections from one address, more than the server has
// descriptors: the unfinished handshakes are capped, the oldest dropped,
// and an authorized client from another address still gets in. The drops
// are logged once for the burst.
TEST_F(HostileTest, AFloodOfIdleConnectionsLocksNobodyOut) {
  session_.Release();
  StopServer();
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit low = saved;
  low.rlim_cur = 256;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
  StartServer({"--listen", "0"});
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
  std::vector<int> flood;
  for (int i = 0; i < 1000; ++i) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(0x7F000002);  // 127.0.0.2
    sockaddr_in to = from;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<uint16_t>(std::stoi(Port())));
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) break;
    flood.push_back(fd);
    ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }
  EXPECT_EQ(flood.size(), 1000u);
  prompt_.answers = {true};  // the port is new: a first contact
  const HRESULT connected = session_.Connect(kClsid, Computer("localhost"));
  if (connected == S_OK && session_.AddItem(u"OPC.ConnectionMonitor", &monitor_) == S_OK)
    ExpectServing();
  for (int fd : flood) ::close(fd);
  EXPECT_EQ(connected, S_OK) << Log();
  EXPECT_EQ(Log().find("Too many open files"), std::string::npos) << Log();
  EXPECT_EQ(CountOf(Log(), "refused 127.0.0.2 port"), 1) << Log();
}

// A client that offers the session of its last connection gets a full
// handshake: nobody comes in without a certificate to judge.
TEST_F(HostileTest, NoSessionIsResumed) {
  std::string error;
  auto identity = rpc::TlsIdentity::LoadOrCreate(rpc::ClientIdentityPath(), &error);
  ASSERT_TRUE(identity) << error;
  SSL_CTX* context = SSL_CTX_new(TLS_client_method());
  SSL_CTX_use_certificate(context, identity->certificate());
  SSL_CTX_use_PrivateKey(context, identity->key());
  SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_CLIENT);
  SSL_SESSION* last = nullptr;
  for (int round = 0; round < 2; ++round) {
    int fd = RawConnect(Port());
    ASSERT_GE(fd, 0);
    timeval wait{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    SSL* ssl = SSL_new(context);
    SSL_set_fd(ssl, fd);
    if (last) SSL_set_session(ssl, last);
    EXPECT_EQ(SSL_connect(ssl), 1) << "round " << round;
    EXPECT_FALSE(SSL_session_reused(ssl)) << "round " << round;
    char byte;
    SSL_read(ssl, &byte, 1);  // takes the server's ticket, then times out
    if (!last) last = SSL_get1_session(ssl);
    SSL_free(ssl);
    ::close(fd);
  }
  SSL_SESSION_free(last);
  SSL_CTX_free(context);
  EXPECT_TRUE(WaitUntil([&] { return CountOf(Log(), "client \"test client\" at") == 3; })) << Log();
}

// The handshake deadline, short here: a peer that never finishes its
// handshake does not keep its connection.
TEST(TlsAdmission, APeerWithoutAHandshakeIsDroppedAtTheDeadline) {
  TempDir dir;
  std::string error;
  auto identity = rpc::TlsIdentity::LoadOrCreate(dir.File("server.pem"), &error);
  ASSERT_TRUE(identity) << error;
  rpc::ServerThread thread([](const CLSID&, IUnknown**) -> HRESULT { return REGDB_E_CLASSNOTREG; });
  rpc::TlsAdmissionOptions options;
  options.handshakeTimeout = std::chrono::milliseconds(200);
  const std::uint16_t port = thread.ListenTls("127.0.0.1", identity, options);
  ASSERT_NE(port, 0);
  const std::string hello = ClientHello();
  for (const std::string& sent : {std::string(), hello.substr(0, hello.size() - 1)}) {
    int fd = RawConnect(std::to_string(port));
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, sent.data(), sent.size()), static_cast<ssize_t>(sent.size()));
    EXPECT_TRUE(ClosedByServer(fd)) << sent.size() << " bytes sent";
    ::close(fd);
  }
  EXPECT_EQ(thread.ConnectionCount(), 0u);
}

}  // namespace
}  // namespace tagwell::testing
