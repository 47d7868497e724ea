#include "tests/dcom/client/DcomPeer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "dcom/rpc/Accounts.h"
#include "dcom/rpc/Server.h"
#include "platform/com/Text.h"
#include "tests/support/Ports.h"
#include "tests/support/TempDir.h"

namespace tagwell::dcom {

struct DcomPeer::Parts {
  testing::TempDir dir;
  std::unique_ptr<Dispatcher> runtime;
  std::unique_ptr<Server> server;
};

DcomPeer::DcomPeer(AuthLevel minActivation)
    : port_(testing::FreeLoopbackPort()), parts_(std::make_unique<Parts>()) {
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
