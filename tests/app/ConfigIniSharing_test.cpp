// Two client processes writing one Config.ini while a third reads it: every
// read sees a whole file, and no write of one process undoes the other's.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <set>
#include <sstream>

#include "session/ConfigIni.h"
#include "tests/support/TempDir.h"

extern char** environ;

namespace tagwell {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

constexpr const char* kHeader = "; shared by two writers";

pid_t Spawn(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  EXPECT_EQ(::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);
  return pid;
}

// The writers sync every file they write. On a memory file system that
// costs nothing, so thousands of rounds take seconds rather than a minute.
std::unique_ptr<TempDir> FastTempDir() {
  const char* tmp = std::getenv("TMPDIR");
  std::optional<std::string> saved = tmp ? std::optional<std::string>(tmp) : std::nullopt;
  if (::access("/dev/shm", W_OK | X_OK) == 0) ::setenv("TMPDIR", "/dev/shm", 1);
  auto dir = std::make_unique<TempDir>();
  if (saved)
    ::setenv("TMPDIR", saved->c_str(), 1);
  else
    ::unsetenv("TMPDIR");
  return dir;
}

// Why text is not a whole role record as the writers leave it; "" when it is.
std::string Problem(const std::string& text) {
  if (text.empty() || text.back() != '\n') return "the last line is cut";
  std::istringstream in(text);
  std::string line;
  std::getline(in, line);
  if (line != kHeader) return "the comment is lost";
  std::getline(in, line);
  if (line != "[Clients]") return "the section is lost";
  std::set<std::string> keys;
  while (std::getline(in, line)) {
    std::string key = line.substr(0, line.find('='));
    if ((key != "Active" && key != "Number" && key != "Shared") ||
        (line != key + "=0" && line != key + "=1"))
      return "a torn line: " + line;
    if (!keys.insert(key).second) return "a key twice: " + key;
  }
  return {};
}

TEST(ConfigIniSharing, TwoWritersNeverTearOrLoseTheFile) {
  std::unique_ptr<TempDir> temp = FastTempDir();
  const TempDir& dir = *temp;
  std::string config = dir.File(kConfigFileName);
  WriteFile(config, std::string(kHeader) + "\n[Clients]\n");
  // The last rounds write Active = 1 (round 1999) and Number = 0 (round 2000).
  pid_t writers[] = {Spawn({TAGWELL_CONFIG_INI_WRITER, dir.path(), "Active", "2000"}),
                     Spawn({TAGWELL_CONFIG_INI_WRITER, dir.path(), "Number", "2001"})};
  ASSERT_GT(writers[0], 0);
  ASSERT_GT(writers[1], 0);

  Client reader(WindowPorts{}, dir.path());
  std::vector<std::string> problems;
  int statuses[2] = {0, 0};
  bool done[2] = {false, false};
  int running = 2;
  long reads = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  while (running > 0 && std::chrono::steady_clock::now() < deadline) {
    std::string text = ReadFile(config);
    if (std::string why = Problem(text); !why.empty() && problems.size() < 5)
      problems.push_back(why + " in:\n" + text);
    int active = ReadClientsKey(reader, kActiveKey);
    if ((active != 0 && active != 1) && problems.size() < 5)
      problems.push_back("Active read as " + std::to_string(active));
    ++reads;
    for (int i = 0; i < 2; ++i)
      if (!done[i] && ::waitpid(writers[i], &statuses[i], WNOHANG) == writers[i]) {
        done[i] = true;
        --running;
      }
  }
  for (int i = 0; i < 2; ++i)
    if (!done[i] && ::kill(writers[i], SIGKILL) == 0) ::waitpid(writers[i], nullptr, 0);
  ASSERT_EQ(running, 0) << "the writers did not finish in time";

  for (int status : statuses) EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(problems.empty()) << reads << " reads; first problems:\n"
                                << (problems.empty() ? "" : problems.front());
  std::string final = ReadFile(config);
  EXPECT_EQ(Problem(final), "");
  EXPECT_EQ(ReadClientsKey(reader, kActiveKey), 1) << final;
  EXPECT_EQ(ReadClientsKey(reader, kNumberKey), 0) << final;
  EXPECT_NE(final.find("Shared="), std::string::npos) << final;
}

}  // namespace
}  // namespace tagwell
