// A child process of a test, talking through pipes: lines to its standard
// input, lines from its standard output. Every wait is bounded.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tagwell::testing {

class ChildProcess {
 public:
  // Starts program with args in folder, with extra environment variables
  // on top of this process's. stderr is passed through.
  ChildProcess(const std::string& program, const std::vector<std::string>& args,
               const std::string& folder, const std::map<std::string, std::string>& env);
  ~ChildProcess();  // kills the child if it still runs
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  void Send(const std::string& line);
  // The next line for which keep is true; lines passed over are kept in
  // skipped(). nullopt when none came within timeout or the child closed
  // its output.
  std::optional<std::string> ReadLine(std::chrono::milliseconds timeout,
                                      const std::function<bool(const std::string&)>& keep);
  // Sends a command and returns its answer (the next line starting "ok" or
  // "error"); "" on timeout.
  std::string Ask(const std::string& command,
                  std::chrono::milliseconds timeout = std::chrono::seconds(30));
  // Waits for the child to end; its exit status, or nullopt on timeout.
  std::optional<int> Wait(std::chrono::milliseconds timeout);
  void Terminate();  // SIGTERM

  const std::vector<std::string>& skipped() const { return skipped_; }
  pid_t pid() const { return pid_; }

 private:
  bool FillBuffer(std::chrono::steady_clock::time_point deadline);

  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  std::string buffer_;
  std::deque<std::string> lines_;
  std::vector<std::string> skipped_;
  std::optional<int> status_;
};

// Polls check every 50 ms until it is true or timeout has passed.
bool WaitUntil(const std::function<bool()>& check, std::chrono::milliseconds timeout);

// The folder of this test program (the build's bin/).
std::string ProgramFolder();

// What a shell command printed on its standard output.
std::string Shell(const std::string& command);
// How often piece stands in text.
int CountOf(const std::string& text, const std::string& piece);
// One value of a driver's answer "ok key=value ...", "" when missing.
std::string Field(const std::string& answer, const std::string& key);
// The wall clock in milliseconds, as the driver's recording times.
long long NowMs();
// The lines that begin with head.
std::vector<std::string> Starting(const std::vector<std::string>& lines, const std::string& head);
// The environment of a child that touches nothing of the operator's: its
// runtime and settings folders under folder (made, 0700), the offscreen
// platform.
std::map<std::string, std::string> PrivateEnvironment(const std::string& folder);

}  // namespace tagwell::testing
