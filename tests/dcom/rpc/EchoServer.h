// A transport server on loopback serving a small echo interface, with an
// accounts file in a private folder and the log lines kept for the test.
//   opnum 0: echoes the stub; 1: reports the caller as text;
//   2: answers as many bytes as the little-endian u32 of the stub asks.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dcom/rpc/Accounts.h"
#include "dcom/rpc/Server.h"

namespace tagwell::dcom::test {

inline SyntaxId EchoInterface() {
  return SyntaxId{
      {0x0f3b8e1e, 0x4c5a, 0x4f7e, {0x9b, 0x1d, 0x2a, 0x6c, 0x8e, 0x0d, 0x7f, 0x31}}, 1, 0};
}
inline SyntaxId SecondInterface() {
  return SyntaxId{
      {0x0f3b8e1e, 0x4c5a, 0x4f7e, {0x9b, 0x1d, 0x2a, 0x6c, 0x8e, 0x0d, 0x7f, 0x32}}, 1, 0};
}

class EchoDispatcher final : public Dispatcher {
 public:
  bool Supports(const SyntaxId& abstract) const override {
    return SameSyntax(abstract, EchoInterface()) || SameSyntax(abstract, SecondInterface());
  }
  Response Call(const Request& request) override {
    Response response;
    if (request.opnum == 0) {
      response.stub.assign(request.stub.begin(), request.stub.end());
    } else if (request.opnum == 1) {
      std::string report =
          "user=" + request.caller.user + " domain=" + request.caller.domain +
          " level=" + std::to_string(static_cast<int>(request.caller.level)) +
          " rights=" + (request.caller.readOnly ? "read" : "readwrite") +
          " interface=" + (SameSyntax(request.interface, EchoInterface()) ? "echo" : "second");
      response.stub.assign(report.begin(), report.end());
    } else if (request.opnum == 2 && request.stub.size() == 4) {
      std::uint32_t size =
          request.stub[0] | request.stub[1] << 8 | request.stub[2] << 16 | request.stub[3] << 24;
      for (std::uint32_t i = 0; i < size; ++i)
        response.stub.push_back(static_cast<std::uint8_t>(i * 13));
    } else {
      response.fault = kFaultOpRangeError;
    }
    return response;
  }
  void AssociationGroupClosed(std::uint32_t) override { ++groupsClosed; }

  std::atomic<int> groupsClosed{0};
};

class EchoServer {
 public:
  explicit EchoServer(ServerOptions options = {}) {
    char name[] = "/tmp/tagwell-dcerpc-XXXXXX";
    folder_ = ::mkdtemp(name);
    accounts_ = folder_ + "/tagwell-server/dcom-accounts";
    std::string error;
    EXPECT_TRUE(AddDcomAccount(accounts_, "PLANT\\operator", "Secret-1", false, &error)) << error;
    EXPECT_TRUE(AddDcomAccount(accounts_, "PLANT\\viewer", "Viewer-2", true, &error)) << error;
    options.accountsPath = accounts_;
    options.log = [this](const std::string& line) {
      std::lock_guard lock(mutex_);
      lines_.push_back(line);
    };
    server_ = std::make_unique<Server>(echo_, options);
    EXPECT_TRUE(server_->Start(&error)) << error;
  }
  ~EchoServer() {
    server_->Stop();
    std::filesystem::remove_all(folder_);
  }

  std::uint16_t port() const { return server_->port(); }
  Server& server() { return *server_; }
  EchoDispatcher& echo() { return echo_; }
  const std::string& accounts() const { return accounts_; }
  const std::string& folder() const { return folder_; }
  std::string Log() {
    std::lock_guard lock(mutex_);
    std::string all;
    for (const auto& line : lines_) all += line + "\n";
    return all;
  }

 private:
  std::string folder_, accounts_;
  EchoDispatcher echo_;
  std::mutex mutex_;
  std::vector<std::string> lines_;
  std::unique_ptr<Server> server_;
};

}  // namespace tagwell::dcom::test
