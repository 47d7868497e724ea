// Reading one registration file: fields, path resolution, expansion, and the
// files that must be refused without harm.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/registry/Registry.h"
#include "tests/platform/registry/ScopedEnv.h"
#include "tests/support/TempDir.h"

namespace tagwell::registry {
namespace {

using testing::TempDir;
using testing::WriteFile;

constexpr const char* kClsid = "{6E6170F2-1B23-4C5D-9E8F-A0B1C2D3E4F5}";

class ServerFileTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& contents) {
    std::string path = dir.File(name);
    WriteFile(path, contents);
    return path;
  }
  std::string Refusal(const std::string& path) {
    std::string problem;
    std::optional<ServerEntry> entry = ReadServerFile(path, &problem);
    EXPECT_FALSE(entry.has_value()) << path;
    EXPECT_FALSE(problem.empty()) << path;
    return problem;
  }
  TempDir dir;
  ScopedEnv runtime{"XDG_RUNTIME_DIR", "/run/user/4242"};
};

TEST_F(ServerFileTest, ReadsEveryFieldWithNamesInAnyCase) {
  std::string path = Write("sim.server",
                           "; installed by hand\r\n"
                           "[other]\r\nProgID=Not.This\r\n"
                           "[ server ]\r\n"
                           "  progid = Tagwell.Simulation.1 \r\n"
                           "clsid=" +
                               std::string(kClsid) +
                               "\r\n"
                               "opc=\r\n"
                               "DESCRIPTION = Simulation server\r\n"
                               "localserver=tagwell-server --embedding  --flat\r\n"
                               "Endpoint=unix:$XDG_RUNTIME_DIR/tagwell/sim.sock\r\n");
  std::optional<ServerEntry> e = ReadServerFile(path);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->progId, "Tagwell.Simulation.1");
  EXPECT_EQ(com::FormatGuid(e->clsid), kClsid);
  EXPECT_TRUE(e->isOpcServer);
  EXPECT_EQ(e->description, "Simulation server");
  EXPECT_EQ(e->localServer, dir.path() + "/tagwell-server --embedding  --flat");
  EXPECT_EQ(e->endpoint, "unix:/run/user/4242/tagwell/sim.sock");
  EXPECT_EQ(e->folder, dir.path());
  EXPECT_EQ(e->file, path);
}

TEST_F(ServerFileTest, WithoutOpcKeyIsNotAnOpcServer) {
  std::optional<ServerEntry> e = ReadServerFile(Write(
      "x.server", "[Server]\nProgID=Other.Class\nCLSID=" + std::string(kClsid) + "\n; OPC=\n"));
  ASSERT_TRUE(e);
  EXPECT_FALSE(e->isOpcServer);
  EXPECT_EQ(e->localServer, "");
  EXPECT_EQ(e->endpoint, "");
}

TEST_F(ServerFileTest, ResolvesOnlyTheProgramWordOfLocalServer) {
  const std::string here = dir.path();
  const std::string parent = std::filesystem::path(here).parent_path().string();
  struct Case {
    std::string value;
    std::string expected;
  } cases[] = {
      {"/opt/tagwell/bin/tagwell-server --embedding",
       "/opt/tagwell/bin/tagwell-server --embedding"},
      {"../bin/tagwell-server --address-space ../a.xml",
       parent + "/bin/tagwell-server --address-space ../a.xml"},
      {"./tagwell-server", here + "/tagwell-server"},
      {"\"my server\" --embedding", "\"" + here + "/my server\" --embedding"},
      {"\"/opt/my server/run\"", "\"/opt/my server/run\""},
  };
  for (const Case& c : cases) {
    std::optional<ServerEntry> e =
        ReadServerFile(Write("x.server", "[Server]\nProgID=A\nCLSID=" + std::string(kClsid) +
                                             "\nLocalServer=" + c.value));
    ASSERT_TRUE(e) << c.value;
    EXPECT_EQ(e->localServer, c.expected) << c.value;
  }
}

TEST_F(ServerFileTest, ProgramInFolderWithBlanksStaysOneWord) {
  std::string folder = dir.File("my servers");
  std::filesystem::create_directory(folder);
  WriteFile(folder + "/x.server", "[Server]\nProgID=A\nCLSID=" + std::string(kClsid) +
                                      "\nLocalServer=tagwell-server --embedding \"a b\"\n");
  std::optional<ServerEntry> e = ReadServerFile(folder + "/x.server");
  ASSERT_TRUE(e);
  EXPECT_EQ(SplitCommandLine(e->localServer),
            (std::vector<std::string>{folder + "/tagwell-server", "--embedding", "a b"}));
}

TEST(SplitCommandLine, BlanksAndQuotes) {
  EXPECT_EQ(SplitCommandLine("  a\tb  \"c d\" e\"f g\"h \"\" "),
            (std::vector<std::string>{"a", "b", "c d", "ef gh", ""}));
  EXPECT_TRUE(SplitCommandLine("   ").empty());
}

TEST_F(ServerFileTest, ExpandsOnlyTheRuntimeVariable) {
  EXPECT_EQ(ExpandRuntimeDir("unix:${XDG_RUNTIME_DIR}/a:$XDG_RUNTIME_DIR"),
            "unix:/run/user/4242/a:/run/user/4242");
  EXPECT_EQ(ExpandRuntimeDir("$XDG_RUNTIME_DIRS/$HOME/${XDG_RUNTIME_DIR/$"),
            "$XDG_RUNTIME_DIRS/$HOME/${XDG_RUNTIME_DIR/$");
  ScopedEnv unset("XDG_RUNTIME_DIR", nullptr);
  ScopedEnv relative("XDG_RUNTIME_DIR", "relative/dir");
  std::string expanded = ExpandRuntimeDir("$XDG_RUNTIME_DIR");
  EXPECT_EQ(expanded.rfind("/tmp/tagwell-", 0), 0u) << expanded;
}

TEST_F(ServerFileTest, RefusesMalformedEntries) {
  const std::string clsid = std::string("CLSID=") + kClsid + "\n";
  struct Case {
    const char* what;
    std::string contents;
  } cases[] = {
      {"empty file", ""},
      {"no [Server] section", "ProgID=A\n" + clsid + "[Other]\nProgID=A\n" + clsid},
      {"no ProgID", "[Server]\n" + clsid + "OPC=\n"},
      {"empty ProgID", "[Server]\nProgID=  \n" + clsid},
      {"no CLSID", "[Server]\nProgID=A\nOPC=\n"},
      {"CLSID without braces", "[Server]\nProgID=A\nCLSID=6E6170F2-1B23-4C5D-9E8F-A0B1C2D3E4F5\n"},
      {"CLSID too short", "[Server]\nProgID=A\nCLSID={6E6170F2-1B23-4C5D-9E8F-A0B1C2D3E4F}\n"},
      {"CLSID not hex", "[Server]\nProgID=A\nCLSID={6E6170F2-1B23-4C5D-9E8F-A0B1C2D3E4FG}\n"},
      {"ProgID read as a CLSID", std::string("[Server]\nProgID=") + kClsid + "\n" + clsid},
      {"ProgID with a control character",
       "[Server]\nProgID=A\x01"
       "B\n" +
           clsid},
      {"ProgID too long", "[Server]\nProgID=" + std::string(256, 'P') + "\n" + clsid},
      {"binary junk", std::string("\x7f"
                                  "ELF\0\0\x01[Server\0]\xff\xfe=\x80\n\0\0",
                                  18)},
      {"larger than 64 KiB", "[Server]\nProgID=A\n" + clsid + std::string(70000, ';')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Refusal(Write("x.server", c.contents));
  }
  EXPECT_TRUE(ReadServerFile(
      Write("x.server", "[Server]\nProgID=" + std::string(255, 'P') + "\n" + clsid)));
}

TEST_F(ServerFileTest, RefusesWhatIsNotARegularFileWithoutBlocking) {
  std::filesystem::create_directory(dir.File("folder.server"));
  EXPECT_EQ(Refusal(dir.File("folder.server")), "it is not a regular file");
  // A reader that opened a FIFO for reading would wait for a writer forever.
  ASSERT_EQ(::mkfifo(dir.File("pipe.server").c_str(), 0600), 0);
  EXPECT_EQ(Refusal(dir.File("pipe.server")), "it is not a regular file");
  std::filesystem::create_symlink(dir.File("gone"), dir.File("dangling.server"));
  EXPECT_EQ(Refusal(dir.File("dangling.server")), "the file does not exist");
  Refusal(dir.File("missing.server"));
}

TEST_F(ServerFileTest, RefusesAFileItCannotRead) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  std::string path = Write("x.server", "[Server]\nProgID=A\nCLSID=" + std::string(kClsid));
  ASSERT_EQ(::chmod(path.c_str(), 0), 0);
  EXPECT_EQ(Refusal(path), "the file cannot be read");
}

}  // namespace
}  // namespace tagwell::registry
