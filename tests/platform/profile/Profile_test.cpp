// Profile files: what a write keeps and changes, how names match, what a
// read gives for missing or odd input, and the bounds of the buffer.
#include "platform/profile/Profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>

#include "tests/support/TempDir.h"

namespace tagwell::profile {
namespace {

using testing::FileExists;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

class ProfileTest : public ::testing::Test {
 protected:
  std::string Get(const char* section, const char* key, const char* def = "<none>",
                  std::size_t size = 180) {
    std::vector<char> buffer(size + 1, '#');
    std::size_t n = GetPrivateProfileString(section, key, def, buffer.data(), size, file);
    EXPECT_EQ(buffer[size], '#') << "wrote past the buffer";
    EXPECT_EQ(std::strlen(buffer.data()), n);
    return buffer.data();
  }
  bool Set(const char* section, const char* key, const char* value) {
    return WritePrivateProfileString(section, key, value, file);
  }
  ino_t Inode() const {
    struct stat st {};
    ::stat(file.c_str(), &st);
    return st.st_ino;
  }
  TempDir dir;
  std::string file = dir.File("Config.ini");
};

TEST_F(ProfileTest, WriteKeepsEveryOtherLineByteForByte) {
  const std::string before =
      "; role record\n"
      "# written by hand\n"
      "\n"
      "[Operator]\n"
      "Name = Ann  \n"
      "Active=7\n"
      "\n"
      "[Clients]\n"
      "  active =  1   ; a note\n"
      "odd line without equals\n"
      "Number=0\n"
      "\n"
      "; trailer\n";
  WriteFile(file, before);
  ASSERT_TRUE(Set("clients", "ACTIVE", "0"));
  ASSERT_TRUE(Set("Clients", "Spare", "x y"));
  EXPECT_EQ(ReadFile(file),
            "; role record\n# written by hand\n\n[Operator]\nName = Ann  \nActive=7\n\n"
            "[Clients]\n  active =0\nodd line without equals\nNumber=0\nSpare=x y\n\n"
            "; trailer\n");
  EXPECT_EQ(Get("Operator", "Active"), "7");
}

TEST_F(ProfileTest, NewLinesFollowTheFilesLineEnds) {
  WriteFile(file, "[A]\r\nx=1\r\n\r\n[Clients]\r\nActive=1");  // no line end at the end
  ASSERT_TRUE(Set("Clients", "Number", "1"));
  ASSERT_TRUE(Set("A", "y", "2"));
  ASSERT_TRUE(Set("New", "k", "v"));
  EXPECT_EQ(ReadFile(file),
            "[A]\r\nx=1\r\ny=2\r\n\r\n[Clients]\r\nActive=1\r\nNumber=1\r\n[New]\r\nk=v\r\n");

  WriteFile(file, "[Clients]\nActive=1");
  ASSERT_TRUE(Set("Other", "k", "v"));
  EXPECT_EQ(ReadFile(file), "[Clients]\nActive=1\n[Other]\nk=v\n");
}

TEST_F(ProfileTest, CreatesFileSectionAndKeyAndReadsDefaultsUntilThen) {
  EXPECT_EQ(Get("Clients", "Active", "0"), "0");
  EXPECT_FALSE(FileExists(file)) << "a read creates nothing";
  ASSERT_TRUE(Set("Clients", "Active", "1"));
  EXPECT_EQ(ReadFile(file), "[Clients]\nActive=1\n");
  EXPECT_EQ(Get("Clients", "Number", "0"), "0");
  EXPECT_EQ(Get("Other", "Active", "0"), "0");
  EXPECT_EQ(Get("Clients", "Active", "0"), "1");
  EXPECT_EQ(Get("Clients", "Active", nullptr), "1");
  EXPECT_EQ(Get("Clients", "Missing", nullptr), "");
  EXPECT_FALSE(WritePrivateProfileString("Clients", "Active", "1", dir.File("no/such/Config.ini")));
}

TEST_F(ProfileTest, ReadsValuesAsTheWindowsFunctionsDo) {
  WriteFile(file,
            "\xEF\xBB\xBF[Clients]\n"
            "Orphan=1\n"  // belongs to [Clients]: the mark is not part of the header
            "[ Spaced ]\n"
            "Quoted = \"  padded  \"\n"
            "Single='x'\n"
            "Half=\"open\n"
            "Eq=a=b\n"
            ";Commented=1\n"
            "#Hashed=1\n"
            "Dup=first\n"
            "Dup=second\n"
            "Empty=\n"
            "[spaced]\n"
            "Later=1\n");
  EXPECT_EQ(Get("Clients", "Orphan"), "1");
  EXPECT_EQ(Get("spaced", "quoted"), "  padded  ");
  EXPECT_EQ(Get("Spaced", "Single"), "x");
  EXPECT_EQ(Get("Spaced", "Half"), "\"open");
  EXPECT_EQ(Get("Spaced", "Eq"), "a=b");
  EXPECT_EQ(Get("Spaced", "Commented"), "<none>");
  EXPECT_EQ(Get("Spaced", "Hashed"), "<none>");
  EXPECT_EQ(Get("Spaced", "Dup"), "first");
  EXPECT_EQ(Get("Spaced", "Empty"), "");
  EXPECT_EQ(Get("Spaced", "Later"), "<none>") << "only the first section of a name counts";
  EXPECT_EQ(Get(nullptr, "Dup"), "<none>");
  EXPECT_EQ(Get("Spaced", nullptr), "<none>");
}

TEST_F(ProfileTest, TruncatesAtACharacterBoundaryWithinTheBuffer) {
  WriteFile(file, "[S]\nCity=Z\xC3\xBCrich\nLong=" + std::string(500, '7') + "\n");
  EXPECT_EQ(Get("S", "City", "", 3), "Z");  // the two bytes of the u-umlaut do not fit
  EXPECT_EQ(Get("S", "City", "", 4), "Z\xC3\xBC");
  EXPECT_EQ(Get("S", "City", "", 1), "");
  EXPECT_EQ(Get("S", "Long", "", 180), std::string(179, '7'));
  EXPECT_EQ(Get("S", "Missing", "default", 4), "def");
  char one = 'x';
  EXPECT_EQ(GetPrivateProfileString("S", "City", "", &one, 0, file), 0u);
  EXPECT_EQ(one, 'x');
  EXPECT_EQ(GetPrivateProfileString("S", "City", "", nullptr, 10, file), 0u);
}

TEST_F(ProfileTest, RefusesWritesThatWouldNotReadBack) {
  WriteFile(file, "[Clients]\nActive=1\n");
  EXPECT_FALSE(Set("Clients", "Active", "1\n[Evil]\nx=1"));
  EXPECT_FALSE(Set("Clients", "Active", "1\r"));
  EXPECT_FALSE(Set("Clients", "A=B", "1"));
  EXPECT_FALSE(Set("Clients", "[X]", "1"));
  EXPECT_FALSE(Set("Clients", ";X", "1"));
  EXPECT_FALSE(Set("Clients", "  ", "1"));
  EXPECT_FALSE(Set("Cli]ents", "Active", "1"));
  EXPECT_FALSE(Set("", "Active", "1"));
  EXPECT_FALSE(Set(nullptr, "Active", "1"));
  EXPECT_EQ(ReadFile(file), "[Clients]\nActive=1\n");
  ASSERT_TRUE(Set(" Clients ", " Number ", " 2 "));
  EXPECT_EQ(Get("Clients", "Number"), "2");
}

TEST_F(ProfileTest, NullValueDeletesKeyAndNullKeyDeletesSection) {
  WriteFile(file, "[A]\r\nx=1\r\ny=2\r\n[B]\r\nz=3\r\n[C]\r\nw=4\r\n");
  ASSERT_TRUE(Set("a", "X", nullptr));
  ASSERT_TRUE(Set("b", nullptr, nullptr));
  ASSERT_TRUE(Set("Missing", nullptr, nullptr));
  EXPECT_EQ(ReadFile(file), "[A]\r\ny=2\r\n[C]\r\nw=4\r\n");
  std::filesystem::remove(file);
  ASSERT_TRUE(Set("A", "x", nullptr));
  EXPECT_FALSE(FileExists(file)) << "deleting from a missing file creates nothing";
}

TEST_F(ProfileTest, ReplacesTheFileWhole) {
  WriteFile(file, "[Clients]\nActive=1\n");
  ::chmod(file.c_str(), 0640);
  ino_t before = Inode();
  ASSERT_TRUE(Set("Clients", "Active", "0"));
  EXPECT_NE(Inode(), before) << "a new file is renamed over the old one";
  struct stat st {};
  ::stat(file.c_str(), &st);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1)
      << "no temporary file is left behind";
}

TEST_F(ProfileTest, WritesThroughASymbolicLink) {
  std::string target = dir.File("real.ini");
  WriteFile(target, "[Clients]\nActive=1\n");
  std::filesystem::create_symlink(target, file);
  ASSERT_TRUE(Set("Clients", "Active", "0"));
  EXPECT_TRUE(std::filesystem::is_symlink(file));
  EXPECT_EQ(ReadFile(target), "[Clients]\nActive=0\n");
}

TEST_F(ProfileTest, LeavesWhatIsNotAProfileFileAlone) {
  ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);  // a reader must not wait for a writer
  EXPECT_EQ(Get("Clients", "Active", "0"), "0");
  EXPECT_FALSE(Set("Clients", "Active", "1"));
  EXPECT_FALSE(EnsureFileExists(dir.path()));

  std::string big = dir.File("big.ini");
  WriteFile(big, "[Clients]\nActive=1\n" + std::string(5 * 1024 * 1024, ';'));
  EXPECT_FALSE(WritePrivateProfileString("Clients", "Active", "0", big));
  EXPECT_EQ(std::filesystem::file_size(big), 5u * 1024 * 1024 + 19);
}

TEST_F(ProfileTest, EnsureFileExistsCreatesEmptyAndKeepsExisting) {
  ASSERT_TRUE(EnsureFileExists(file));
  EXPECT_TRUE(FileExists(file));
  EXPECT_EQ(ReadFile(file), "");
  WriteFile(file, "[Clients]\nActive=1\n");
  ASSERT_TRUE(EnsureFileExists(file));
  EXPECT_EQ(ReadFile(file), "[Clients]\nActive=1\n");
  EXPECT_FALSE(EnsureFileExists(dir.File("no/such/Config.ini")));
}

}  // namespace
}  // namespace tagwell::profile
