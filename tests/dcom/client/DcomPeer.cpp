#include "tests/dcom/client/DcomPeer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "dcom/rpc/Accounts.h"
#include "dcom/rpc/Server.h"
#include "platform/com/Text.h"
#include "tests/support/TempDir.h"

namespace tagwell::dcom {
namespace {

std::uint16_t FreePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

}  // namespace

struct DcomPeer::Parts {
  testing::TempDir dir;
  std::unique_ptr<Dispatcher> runtime;
  std::unique_ptr<Server> server;
};

DcomPeer::DcomPeer(AuthLevel minActivation) : port_(FreePort()), parts_(std::make_unique<Parts>()) {
  std::string error;
  const std::string accounts = parts_->dir.File("accounts");
  EXPECT_TRUE(AddDcomAccount(accounts, "PLANT\\op", "Secret-1", false, &error)) << error;
  parts_->runtime = MakeSimulationRuntime(port_, minActivation);
  ServerOptions options;
  options.port = port_;
  options.accountsPath = accounts;
  parts_->server = std::make_unique<Server>(*parts_->runtime, options);
  EXPECT_TRUE(parts_->server->Start(&error)) << error;
}

DcomPeer::~DcomPeer() {
  parts_->server->Stop();
}

void DcomPeer::Stop() {
  parts_->server->Stop();
}

std::u16string DcomPeer::Computer() const {
  return com::Utf8ToUtf16(Key());
}

std::string DcomPeer::Key() const {
  return "127.0.0.1[" + std::to_string(port_) + "]";
}

}  // namespace tagwell::dcom
