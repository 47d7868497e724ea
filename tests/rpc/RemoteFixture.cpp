#include "tests/rpc/RemoteFixture.h"

#include <signal.h>
#include <sys/stat.h>

#include "platform/com/Text.h"
#include "platform/registry/Registry.h"
#include "rpc/Tls.h"
#include "rpc/Trust.h"

namespace tagwell::testing {

namespace {

// What follows marker in log up to the end of its line ("" without it).
std::string After(const std::string& log, const std::string& marker) {
  auto at = log.find(marker);
  if (at == std::string::npos) return {};
  at += marker.size();
  return log.substr(at, log.find('\n', at) - at);
}

}  // namespace

bool FakePrompt::Ask(const std::string& text) {
  asked.push_back(text);
  if (answers.empty()) return false;
  bool answer = answers.front();
  answers.erase(answers.begin());
  return answer;
}

void RemoteFixture::SetUp() {
  ASSERT_EQ(::mkdir(dir_.File("servers").c_str(), 0700), 0);
  registry::SetInstalledServerFolders({dir_.File("servers")});
  activation_.SetPrompt(&prompt_);
  StartServer({"--listen", "0"});
}

void RemoteFixture::TearDown() {
  activation_.SetPrompt(nullptr);
  registry::SetInstalledServerFolders({});
  StopServer();
}

void RemoteFixture::StartServer(const std::vector<std::string>& arguments) {
  std::vector<std::string> all = {"--endpoint", "unix:" + dir_.File("run/sim.sock")};
  all.insert(all.end(), arguments.begin(), arguments.end());
  server_ = std::make_unique<ChildProcess>(ServerProgram(), all, dir_.path());
  ASSERT_GT(server_->pid(), 0);
  ASSERT_TRUE(WaitUntil([&] { return !Port().empty(); })) << Log();
}

void RemoteFixture::StopServer() {
  if (!server_) return;
  server_->Signal(SIGTERM);
  EXPECT_EQ(server_->Wait(), 0) << Log();
  server_.reset();
}

std::string RemoteFixture::Port() const {
  return After(Log(), "serving remote clients on 127.0.0.1 port ");
}

std::u16string RemoteFixture::Computer(const std::string& host) const {
  return com::Utf8ToUtf16(host + ":" + Port());
}

std::string RemoteFixture::Log() const {
  return server_ ? server_->Stderr() : std::string();
}

std::string RemoteFixture::ServerFingerprint() const {
  return After(Log(), "certificate SHA-256 fingerprint ");
}

std::string RemoteFixture::ClientFingerprint() const {
  std::string error;
  auto identity = rpc::TlsIdentity::LoadOrCreate(rpc::ClientIdentityPath(), &error);
  return identity ? identity->fingerprint() : error;
}

void RemoteFixture::Authorize(const std::vector<std::string>& extra) {
  std::vector<std::string> arguments = {"--authorize", ClientFingerprint(), "test client"};
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  ChildProcess authorize(ServerProgram(), arguments, dir_.path());
  ASSERT_EQ(authorize.Wait(), 0) << authorize.Stderr();
}

}  // namespace tagwell::testing
