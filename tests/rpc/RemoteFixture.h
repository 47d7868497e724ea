// A tagwell-server serving remote clients on loopback TCP (a port the OS
// picks), with its own and this client's configuration in a temporary
// folder, and an operator prompt that answers as told.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "rpc/Activation.h"
#include "tests/rpc/RpcTestSupport.h"

namespace tagwell::testing {

class FakePrompt final : public rpc::OperatorPrompt {
 public:
  // Answers from `answers` in order, No once they run out.
  bool Ask(const std::string& text) override;
  void Tell(const std::string& text) override { told.push_back(text); }
  void Refused(const std::string& line) override { refused.push_back(line); }

  std::vector<bool> answers;
  std::vector<std::string> asked;
  std::vector<std::string> told;
  std::vector<std::string> refused;
};

class RemoteFixture : public ::testing::Test {
 protected:
  // Starts the server with --listen 0; nothing is registered on this
  // computer and nobody is authorized yet.
  void SetUp() override;
  void TearDown() override;

  void StartServer(const std::vector<std::string>& arguments);
  void StopServer();
  // The port the server logged it listens on ("" before it does).
  std::string Port() const;
  std::u16string Computer(const std::string& host) const;
  std::string Log() const;
  // The fingerprints the server logged and this client shows.
  std::string ServerFingerprint() const;
  std::string ClientFingerprint() const;
  // Runs tagwell-server --authorize for this client, with extra arguments.
  void Authorize(const std::vector<std::string>& extra);

  TempDir dir_;
  ScopedEnv config_{"XDG_CONFIG_HOME", dir_.File("config")};
  FakePrompt prompt_;
  rpc::ScopedServerActivator activation_{
      rpc::ActivationOptions{std::chrono::seconds(5), std::chrono::seconds(5)}};
  std::unique_ptr<ChildProcess> server_;
};

}  // namespace tagwell::testing
