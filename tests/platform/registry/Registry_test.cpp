// The registry over several folders, the process-wide installed servers,
// the default folder order and the private runtime folder.
#include "platform/registry/Registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "tests/platform/registry/ScopedEnv.h"
#include "tests/support/TempDir.h"

namespace tagwell::registry {
namespace {

using testing::TempDir;
using testing::WriteFile;

std::string Clsid(int n) {
  char text[64];
  std::snprintf(text, sizeof text, "{00000000-0000-0000-0000-%012d}", n);
  return text;
}

void Install(const std::string& folder, const std::string& file, const std::string& progId,
             int clsid, bool opc = true) {
  std::filesystem::create_directories(folder);
  WriteFile(folder + "/" + file,
            "[Server]\nProgID=" + progId + "\nCLSID=" + Clsid(clsid) + (opc ? "\nOPC=\n" : "\n"));
}

std::vector<std::string> ProgIds(const std::vector<ServerEntry>& entries) {
  std::vector<std::string> out;
  for (const ServerEntry& e : entries) out.push_back(e.progId);
  return out;
}

class RegistryTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string user = dir.File("user");
  std::string system = dir.File("system");
};

TEST_F(RegistryTest, OrdersByProgIdAndFirstFolderWins) {
  Install(user, "z.server", "b.Server", 1);
  Install(user, "a.server", "Vendor.Plc.2", 2);
  Install(system, "plc.server", "vendor.plc.2", 3);  // same key as above: hidden
  Install(system, "sim.server", "Tagwell.Simulation.1", 4);
  Install(system, "zz.server", "Tagwell.Simulation.1", 5);  // later file of the same folder
  Install(system, "calc.server", "Calc.Class", 6, /*opc=*/false);
  WriteFile(system + "/notes.txt", "[Server]\nProgID=Not.Listed\nCLSID=" + Clsid(7));
  WriteFile(system + "/old.server.bak", "[Server]\nProgID=Not.Listed\nCLSID=" + Clsid(7));
  WriteFile(system + "/.server", "[Server]\nProgID=Not.Listed\nCLSID=" + Clsid(7));
  WriteFile(system + "/broken.server", "[Server]\nProgID=Broken\n");

  Registry registry({dir.File("missing"), user, system});
  std::vector<ServerEntry> entries = registry.Entries();
  EXPECT_EQ(ProgIds(entries), (std::vector<std::string>{"Calc.Class", "Tagwell.Simulation.1",
                                                        "Vendor.Plc.2", "b.Server"}));
  EXPECT_EQ(entries[1].clsid, registry.FindByProgId("Tagwell.Simulation.1")->clsid);
  EXPECT_EQ(com::FormatGuid(entries[1].clsid), Clsid(4));
  EXPECT_EQ(entries[2].folder, user);
  EXPECT_EQ(registry.OpcServerProgIds(),
            (std::vector<std::string>{"Tagwell.Simulation.1", "Vendor.Plc.2", "b.Server"}));
}

TEST_F(RegistryTest, FindsByProgIdWithoutCaseAndByClsidInFolderOrder) {
  Install(user, "a.server", "Vendor.Plc.2", 2);
  Install(system, "b.server", "Vendor.Plc", 2);  // a second name of the same class
  Registry registry({user, system});
  std::optional<ServerEntry> byName = registry.FindByProgId("VENDOR.PLC.2");
  ASSERT_TRUE(byName);
  EXPECT_EQ(byName->progId, "Vendor.Plc.2");
  EXPECT_EQ(registry.FindByProgId("Vendor.Plc")->folder, system);
  EXPECT_FALSE(registry.FindByProgId("Vendor"));
  com::CLSID clsid{};
  ASSERT_TRUE(com::ParseGuid(Clsid(2), &clsid));
  EXPECT_EQ(registry.FindByClsid(clsid)->progId, "Vendor.Plc.2");
  ASSERT_TRUE(com::ParseGuid(Clsid(9), &clsid));
  EXPECT_FALSE(registry.FindByClsid(clsid));
}

TEST_F(RegistryTest, SeesServersInstalledAfterItWasMade) {
  Registry registry({user});
  EXPECT_TRUE(registry.Entries().empty());
  Install(user, "a.server", "Late.Server", 1);
  EXPECT_EQ(ProgIds(registry.Entries()), std::vector<std::string>{"Late.Server"});
}

TEST_F(RegistryTest, InstalledServersFollowTheGivenFoldersAndTheEnvironment) {
  Install(user, "a.server", "User.Server", 1);
  SetInstalledServerFolders({user});
  const Registry& given = InstalledServers();
  EXPECT_EQ(given.OpcServerProgIds(), std::vector<std::string>{"User.Server"});

  {
    ScopedEnv home("XDG_CONFIG_HOME", dir.path().c_str());
    Install(dir.File("tagwell/servers"), "env.server", "Env.Server", 2);
    SetInstalledServerFolders({});
    EXPECT_EQ(InstalledServers().Folders().front(), dir.File("tagwell/servers"));
    EXPECT_TRUE(InstalledServers().FindByProgId("Env.Server"));
  }
  EXPECT_NE(InstalledServers().Folders().front(), dir.File("tagwell/servers"));
  // References handed out earlier stay usable.
  EXPECT_EQ(given.Folders(), std::vector<std::string>{user});
  SetInstalledServerFolders({});
}

TEST_F(RegistryTest, InstalledServersAreSafeFromSeveralThreads) {
  Install(user, "a.server", "User.Server", 1);
  SetInstalledServerFolders({user});
  std::atomic<bool> stop{false};
  std::atomic<int> misses{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 3; ++t)
    readers.emplace_back([&] {
      while (!stop)
        if (!InstalledServers().FindByProgId("User.Server")) ++misses;
    });
  for (int i = 0; i < 200; ++i) SetInstalledServerFolders({user});
  stop = true;
  for (std::thread& t : readers) t.join();
  EXPECT_EQ(misses, 0);
  SetInstalledServerFolders({});
}

TEST(DefaultFolders, FollowTheSearchOrder) {
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe").parent_path();
  std::string share = (exe.parent_path() / "share/tagwell/servers").string();
  std::string beside = (exe / "servers").string();
  {
    ScopedEnv home("XDG_CONFIG_HOME", "/cfg/");
    ScopedEnv dirs("XDG_CONFIG_DIRS", "/etc/one:relative/two::/etc/three/");
    EXPECT_EQ(DefaultFolders(),
              (std::vector<std::string>{"/cfg/tagwell/servers", "/etc/one/tagwell/servers",
                                        "/etc/three/tagwell/servers", share, beside}));
  }
  {
    ScopedEnv config("XDG_CONFIG_HOME", "relative");
    ScopedEnv home("HOME", "/home/op");
    ScopedEnv dirs("XDG_CONFIG_DIRS", nullptr);
    EXPECT_EQ(DefaultFolders(),
              (std::vector<std::string>{"/home/op/.config/tagwell/servers",
                                        "/etc/xdg/tagwell/servers", share, beside}));
  }
}

TEST(RuntimeFolder, PrefersXdgRuntimeDir) {
  ScopedEnv runtime("XDG_RUNTIME_DIR", "/run/user/77");
  EXPECT_EQ(RuntimeFolder(), "/run/user/77");
}

class PrivateRuntimeFolderTest : public ::testing::Test {
 protected:
  static mode_t Mode(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
  }
  TempDir dir;
  std::string base = dir.File("tagwell-" + std::to_string(::geteuid()));
};

TEST_F(PrivateRuntimeFolderTest, CreatesAFolderOnlyItsOwnerMayEnter) {
  mode_t old = ::umask(0);  // a careless umask must not open the folder
  std::string folder = PrivateRuntimeFolder(dir.path());
  ::umask(old);
  EXPECT_EQ(folder, base);
  EXPECT_EQ(Mode(folder), 0700u);
  EXPECT_EQ(PrivateRuntimeFolder(dir.path()), base);
}

TEST_F(PrivateRuntimeFolderTest, RefusesFoldersOthersCouldUseAndReportsOnce) {
  std::filesystem::create_directory(base);
  ::chmod(base.c_str(), 0755);
  WriteFile(base + ".1", "not a folder");
  std::filesystem::create_directory(dir.File("elsewhere"));
  ::chmod(dir.File("elsewhere").c_str(), 0700);
  std::filesystem::create_directory_symlink(dir.File("elsewhere"), base + ".2");

  ::testing::internal::CaptureStderr();
  EXPECT_EQ(PrivateRuntimeFolder(dir.path()), base + ".3");
  EXPECT_EQ(PrivateRuntimeFolder(dir.path()), base + ".3");
  std::string report = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(Mode(base), 0755u);  // refused, not taken over
  EXPECT_EQ(Mode(base + ".3"), 0700u);
  EXPECT_NE(report.find("refusing runtime folder " + base + ": its mode 0755 lets other users in"),
            std::string::npos)
      << report;
  EXPECT_EQ(report.find("refusing runtime folder " + base + ":"),
            report.rfind("refusing runtime folder " + base + ":"));
}

TEST_F(PrivateRuntimeFolderTest, RefusesAFolderOfAnotherUser) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can give a folder away";
  std::filesystem::create_directory(base);
  ::chmod(base.c_str(), 0700);
  ASSERT_EQ(::chown(base.c_str(), 65534, 65534), 0);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(PrivateRuntimeFolder(dir.path()), base + ".1");
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("belongs to user 65534"),
            std::string::npos);
}

TEST_F(PrivateRuntimeFolderTest, FallsBackToAFolderOfItsOwnWhenAllAreTaken) {
  for (int n = 0; n < kRuntimeFolderCandidates; ++n)
    WriteFile(n == 0 ? base : base + "." + std::to_string(n), "taken");
  ::testing::internal::CaptureStderr();
  std::string folder = PrivateRuntimeFolder(dir.path());
  ::testing::internal::GetCapturedStderr();
  ASSERT_EQ(folder.rfind(base + "-", 0), 0u) << folder;
  EXPECT_EQ(Mode(folder), 0700u);
  EXPECT_EQ(PrivateRuntimeFolder(dir.path()), folder);
}

}  // namespace
}  // namespace tagwell::registry
