#include "tests/e2e/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace tagwell::testing {
namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::string& folder,
                           const std::map<std::string, std::string>& env) {
  // A child that has gone makes Send fail instead of killing the test.
  signal(SIGPIPE, SIG_IGN);
  int toChild[2], fromChild[2];
  if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    dup2(toChild[0], 0);
    dup2(fromChild[1], 1);
    if (chdir(folder.c_str()) != 0) _exit(127);
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(toChild[0]);
  close(fromChild[1]);
  in_ = toChild[1];
  out_ = fromChild[0];
}

ChildProcess::~ChildProcess() {
  if (in_ >= 0) close(in_);
  if (!status_ && pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0) close(out_);
}

void ChildProcess::Send(const std::string& line) {
  std::string text = line + "\n";
  const char* p = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    ssize_t n = write(in_, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    p += n;
    left -= static_cast<std::size_t>(n);
  }
}

bool ChildProcess::FillBuffer(Clock::time_point deadline) {
  pollfd p{out_, POLLIN, 0};
  int r = poll(&p, 1, MillisecondsLeft(deadline));
  if (r <= 0) return false;
  char chunk[4096];
  ssize_t n = read(out_, chunk, sizeof chunk);
  if (n <= 0) return false;
  buffer_.append(chunk, static_cast<std::size_t>(n));
  for (std::size_t end; (end = buffer_.find('\n')) != std::string::npos;) {
    lines_.push_back(buffer_.substr(0, end));
    buffer_.erase(0, end + 1);
  }
  return true;
}

std::optional<std::string> ChildProcess::ReadLine(
    std::chrono::milliseconds timeout, const std::function<bool(const std::string&)>& keep) {
  auto deadline = Clock::now() + timeout;
  for (;;) {
    while (!lines_.empty()) {
      std::string line = std::move(lines_.front());
      lines_.pop_front();
      if (keep(line)) return line;
      skipped_.push_back(std::move(line));
    }
    if (Clock::now() >= deadline || !FillBuffer(deadline)) {
      if (lines_.empty()) return std::nullopt;
    }
  }
}

std::string ChildProcess::Ask(const std::string& command, std::chrono::milliseconds timeout) {
  Send(command);
  auto answer = ReadLine(timeout, [](const std::string& line) {
    return line.rfind("ok", 0) == 0 || line.rfind("error", 0) == 0;
  });
  if (getenv("TAGWELL_E2E_TRACE"))
    fprintf(stderr, "[%d] %s -> %s\n", pid_, command.c_str(), answer.value_or("<none>").c_str());
  return answer.value_or("");
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds timeout) {
  if (status_) return status_;
  auto deadline = Clock::now() + timeout;
  for (;;) {
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return status_;
    }
    if (Clock::now() >= deadline) return std::nullopt;
    // Drain output meanwhile so that a chatty child never blocks on a full pipe.
    FillBuffer(std::min(deadline, Clock::now() + std::chrono::milliseconds(20)));
  }
}

void ChildProcess::Terminate() {
  if (!status_ && pid_ > 0) kill(pid_, SIGTERM);
}

bool WaitUntil(const std::function<bool()>& check, std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  for (;;) {
    if (check()) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

std::string ProgramFolder() {
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  std::string exe(path, static_cast<std::size_t>(n));
  return exe.substr(0, exe.rfind('/'));
}

std::string Shell(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[256];
    while (fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
  }
  return out;
}

int CountOf(const std::string& text, const std::string& piece) {
  int n = 0;
  for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
    ++n;
  return n;
}

std::string Field(const std::string& answer, const std::string& key) {
  std::istringstream words(answer);
  for (std::string word; words >> word;)
    if (word.rfind(key + "=", 0) == 0) return word.substr(key.size() + 1);
  return "";
}

long long NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::vector<std::string> Starting(const std::vector<std::string>& lines, const std::string& head) {
  std::vector<std::string> out;
  std::copy_if(lines.begin(), lines.end(), std::back_inserter(out),
               [&](const std::string& line) { return line.rfind(head, 0) == 0; });
  return out;
}

std::map<std::string, std::string> PrivateEnvironment(const std::string& folder) {
  const std::string runtime = folder + "/runtime", config = folder + "/config";
  ::mkdir(runtime.c_str(), 0700);
  ::mkdir(config.c_str(), 0700);
  return {
      {"XDG_RUNTIME_DIR", runtime}, {"XDG_CONFIG_HOME", config}, {"QT_QPA_PLATFORM", "offscreen"}};
}

}  // namespace tagwell::testing
