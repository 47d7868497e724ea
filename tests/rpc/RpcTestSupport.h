// Helpers of the rpc tests: bounded waits, tagwell-server and peer
// processes, registration files.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

namespace tagwell::testing {

// Waits, at most `timeout`, until condition holds.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// A child process whose stderr (and stdout) go to files.
class ChildProcess final {
 public:
  // Starts program with arguments; pid() is -1 when that failed.
  ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& outputFolder);
  // Kills the process if it still runs and reaps it.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  void Signal(int signal);
  // The exit status (or 128 + signal), waiting at most timeout; -1 when it
  // still runs then.
  int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  std::string Stdout() const;
  std::string Stderr() const;

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  std::string stdoutFile_;
  std::string stderrFile_;
};

// The process listening on the unix socket at path (-1 when none does).
pid_t EndpointPid(const std::string& path);

// Writes NAME.server for the simulation class into folder.
void WriteSimulationRegistration(const std::string& folder, const std::string& localServer,
                                 const std::string& endpoint);

// tagwell-server and the peer program of this build.
std::string ServerProgram();
std::string PeerProgram();

// Sets an environment variable for the life of the object.
class ScopedEnv final {
 public:
  ScopedEnv(const char* name, const std::string& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  bool had_ = false;
  std::string old_;
};

}  // namespace tagwell::testing
