#include "tests/rpc/RpcTestSupport.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <thread>

#include "rpc/Endpoint.h"
#include "server/Simulation.h"

extern char** environ;

namespace tagwell::testing {

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::string& outputFolder)
    : stdoutFile_(outputFolder + "/stdout-" +
                  std::to_string(reinterpret_cast<std::uintptr_t>(this))),
      stderrFile_(outputFolder + "/stderr-" +
                  std::to_string(reinterpret_cast<std::uintptr_t>(this))) {
  std::vector<std::string> words = {program};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, stdoutFile_.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderrFile_.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && status_ < 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

void ChildProcess::Signal(int signal) {
  if (pid_ > 0 && status_ < 0) ::kill(pid_, signal);
}

int ChildProcess::Wait(std::chrono::milliseconds timeout) {
  if (pid_ <= 0 || status_ >= 0) return status_;
  WaitUntil(
      [&] {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) != pid_) return false;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return true;
      },
      timeout);
  return status_;
}

std::string ChildProcess::Stdout() const {
  return ReadFile(stdoutFile_);
}
std::string ChildProcess::Stderr() const {
  return ReadFile(stderrFile_);
}

pid_t EndpointPid(const std::string& path) {
  int fd = rpc::ConnectUnix(path);
  if (fd < 0) return -1;
  ucred credentials{};
  socklen_t length = sizeof credentials;
  pid_t pid =
      ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0 ? credentials.pid : -1;
  ::close(fd);
  return pid;
}

void WriteSimulationRegistration(const std::string& folder, const std::string& localServer,
                                 const std::string& endpoint) {
  WriteFile(folder + "/Tagwell.Simulation.1.server",
            "[Server]\n"
            "ProgID=Tagwell.Simulation.1\n"
            "CLSID=" +
                com::FormatGuid(server::CLSID_TagwellSimulation) +
                "\n"
                "OPC=\n"
                "Description=simulation for the rpc tests\n"
                "LocalServer=" +
                localServer +
                "\n"
                "Endpoint=" +
                endpoint + "\n");
}

std::string ServerProgram() {
  return TAGWELL_SERVER_EXE;
}
std::string PeerProgram() {
  return TAGWELL_PEER_EXE;
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name) {
  if (const char* old = std::getenv(name)) {
    had_ = true;
    old_ = old;
  }
  ::setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
  if (had_)
    ::setenv(name_.c_str(), old_.c_str(), 1);
  else
    ::unsetenv(name_.c_str());
}

}  // namespace tagwell::testing
