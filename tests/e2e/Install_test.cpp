// `cmake --install` into a temporary prefix, then the installed client is
// started (offscreen) and made to list and connect to the installed
// simulation server, with nothing of the build tree in reach.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "tests/e2e/Process.h"
#include "tests/support/TempDir.h"

namespace tagwell::testing {
namespace {

using namespace std::chrono_literals;

TEST(Install, PutsEveryFileInItsPlaceAndTheInstalledClientConnects) {
  TempDir prefix, home;
  std::string command = std::string("'") + TAGWELL_CMAKE + "' --install '" + TAGWELL_BUILD_DIR +
                        "' --prefix '" + prefix.path() + "' >/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;

  for (const char* file :
       {"bin/tagwell", "bin/tagwell-server", "share/tagwell/servers/Tagwell.Simulation.1.server",
        "share/doc/tagwell/Help.html", "share/applications/tagwell.desktop",
        "share/icons/hicolor/32x32/apps/tagwell.png", "share/tagwell/OPCvalues.sql"})
    EXPECT_TRUE(FileExists(prefix.File(file))) << file;
  EXPECT_NE(ReadFile(prefix.File("share/applications/tagwell.desktop")).find("Exec=tagwell\n"),
            std::string::npos);

  std::string runtime = home.File("runtime");
  mkdir(runtime.c_str(), 0700);
  mkdir(home.File("config").c_str(), 0700);
  mkdir(home.File("work").c_str(), 0700);
  const char* asan = std::getenv("ASAN_OPTIONS");
  ChildProcess client(prefix.File("bin/tagwell"), {}, home.File("work"),
                      {{"LD_PRELOAD", TAGWELL_AUTOPILOT},
                       {"QT_QPA_PLATFORM", "offscreen"},
                       {"XDG_RUNTIME_DIR", runtime},
                       {"XDG_CONFIG_HOME", home.File("config")},
                       {"XDG_CONFIG_DIRS", home.File("config")},
                       // The preloaded library comes before the sanitizer runtime; leaks of
                       // the client are the business of its own tests.
                       {"ASAN_OPTIONS", std::string(asan ? asan : "") +
                                            ":verify_asan_link_order=0:detect_leaks=0"}});

  auto line = [&](const std::string& prefixText) {
    return client.ReadLine(60s, [&](const std::string& l) { return l.rfind(prefixText, 0) == 0; });
  };
  EXPECT_EQ(line("servers: ").value_or("none"), "servers: Tagwell.Simulation.1");
  EXPECT_EQ(line("info: ").value_or("none"), "info: Vendor information = ");
  EXPECT_EQ(line("info: ").value_or("none"), "info:    Tagwell Simulation Server 8.4");
  EXPECT_EQ(client.Wait(60s), 0);
  for (const std::string& other : client.skipped())
    EXPECT_EQ(other.rfind("box: ", 0), std::string::npos) << other;

  std::string log = ReadFile(home.File("work/Logfile.txt"));
  EXPECT_NE(log.find("OPC Server started: Tagwell.Simulation.1\n"), std::string::npos) << log;
  // The server the installed client started by activation leaves on its own.
  EXPECT_TRUE(
      WaitUntil([&] { return !FileExists(runtime + "/tagwell/Tagwell.Simulation.1.sock"); }, 30s));
}

}  // namespace
}  // namespace tagwell::testing
