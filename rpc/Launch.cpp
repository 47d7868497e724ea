#include "rpc/Launch.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace tagwell::rpc {

namespace {

// Reads exactly `size` bytes; false at the end of the pipe.
bool ReadAll(int fd, void* data, std::size_t size) {
  auto* bytes = static_cast<char*>(data);
  while (size > 0) {
    ssize_t got = ::read(fd, bytes, size);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    bytes += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

// The grandchild: report our pid, become the program, or report why not.
// Only async-signal-safe calls from here on.
[[noreturn]] void RunProgram(char* const* argv, const char* folder, int devNull, int report) {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  signal(SIGPIPE, SIG_DFL);
  pid_t self = getpid();
  (void)!write(report, &self, sizeof self);
  int failure = 0;
  if (dup2(devNull, STDIN_FILENO) < 0 || (folder[0] != '\0' && chdir(folder) != 0)) {
    failure = errno;
  } else {
    execv(argv[0], argv);
    failure = errno;
  }
  (void)!write(report, &failure, sizeof failure);
  _exit(127);
}

}  // namespace

pid_t StartDetached(const std::vector<std::string>& command, const std::string& workingFolder,
                    std::string* error) {
  std::vector<std::string> words = command;
  if (words.empty()) {
    *error = "no command to start the server";
    return -1;
  }
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  int report[2];
  if (devNull < 0 || ::pipe2(report, O_CLOEXEC) != 0) {
    *error = std::string("cannot prepare to start ") + words[0] + ": " + std::strerror(errno);
    if (devNull >= 0) ::close(devNull);
    return -1;
  }
  pid_t child = ::fork();
  int forkError = errno;
  if (child == 0) {
    // The intermediate child: a new session, then the program in a grandchild
    // that init adopts when we exit right away.
    setsid();
    pid_t grandchild = fork();
    if (grandchild == 0) RunProgram(argv.data(), workingFolder.c_str(), devNull, report[1]);
    _exit(grandchild < 0 ? 1 : 0);
  }
  ::close(report[1]);
  ::close(devNull);
  if (child > 0) {
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  pid_t pid = -1;
  int failure = 0;
  bool started = child > 0 && ReadAll(report[0], &pid, sizeof pid);
  bool failed = started && ReadAll(report[0], &failure, sizeof failure);
  ::close(report[0]);
  if (!started) {
    *error = std::string("cannot start ") + words[0] + ": " +
             std::strerror(child < 0 ? forkError : EAGAIN);
    return -1;
  }
  if (failed) {
    *error = std::string("cannot start ") + words[0] + ": " + std::strerror(failure);
    return -1;
  }
  return pid;
}

bool ProcessRuns(pid_t pid) {
  if (pid <= 0 || (::kill(pid, 0) != 0 && errno == ESRCH)) return false;
  // A process that has ended but was not reaped yet still answers kill().
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  auto close = line.rfind(')');
  return close == std::string::npos || close + 2 >= line.size() || line[close + 2] != 'Z';
}

}  // namespace tagwell::rpc
