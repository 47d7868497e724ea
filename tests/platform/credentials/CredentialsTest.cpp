// The accounts file: what goes in comes back (any character), it stays
// private to its owner, and a file others may read is refused.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/credentials/Credentials.h"
#include "tests/support/TempDir.h"

namespace tagwell::credentials {
namespace {

TEST(FileCredentialStore, KeepsAccountsPrivateAndRefusesOpenFiles) {
  testing::TempDir dir;
  const std::string path = dir.File("config/tagwell/credentials");
  FileCredentialStore store(path);
  std::string error;
  EXPECT_FALSE(store.Find("plc01", &error)) << "no file yet is no error";
  const Credentials odd{"op\tator", "PLANT%20", "p\na%s\ts\rw\\\"d é"};
  ASSERT_TRUE(store.Remember("plc01", odd, &error)) << error;
  ASSERT_TRUE(store.Remember("plc02[1135]", {"x", "", "y"}, &error)) << error;
  ASSERT_TRUE(store.Remember("plc01", odd, &error)) << "replaces, does not add";
  auto found = store.Find("plc01", &error);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->user, odd.user);
  EXPECT_EQ(found->domain, odd.domain);
  EXPECT_EQ(found->password, odd.password);
  EXPECT_EQ(store.Find("plc02[1135]", &error)->password, "y");
  EXPECT_EQ(odd.Describe(), "PLANT%20\\op\tator");

  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat(dir.File("config/tagwell").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_EQ(testing::ReadFile(path).find("op\tator"), std::string::npos) << "fields are escaped";

  store.Forget("plc01");
  EXPECT_FALSE(store.Find("plc01", &error));
  EXPECT_TRUE(store.Find("plc02[1135]", &error));

  // Someone made it readable to others: it is neither read nor written.
  ::chmod(path.c_str(), 0644);
  error.clear();
  EXPECT_FALSE(store.Find("plc02[1135]", &error));
  EXPECT_NE(error.find("chmod 600"), std::string::npos) << error;
  EXPECT_FALSE(store.Remember("plc03", {"a", "", "b"}, &error));

  // The book: the session first, the store once, and a drop is the
  // session's only.
  ::chmod(path.c_str(), 0600);
  CredentialBook book(&store);
  EXPECT_FALSE(book.InSession("plc02[1135]")) << "the store is not read off the window thread";
  EXPECT_EQ(book.Get("plc02[1135]")->user, "x");
  EXPECT_EQ(book.InSession("plc02[1135]")->user, "x");
  book.Use("plc02[1135]", {"typed", "", "z"});
  EXPECT_EQ(book.Get("plc02[1135]")->user, "typed");
  book.Drop("plc02[1135]");
  EXPECT_EQ(book.Get("plc02[1135]")->user, "x");
}

}  // namespace
}  // namespace tagwell::credentials
