// Reading XML item lists: which elements are entries, in which order, and
// which files are refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "browse/XmlItemList.h"
#include "tests/support/TempDir.h"

namespace tagwell {
namespace {

using testing::TempDir;
using testing::WriteFile;
using Ids = std::vector<std::string>;

std::string TestFile(const char* name) {
  return std::string(TAGWELL_TESTDATA) + "/xml/" + name;
}

int Count(const std::string& text, const std::string& piece) {
  int n = 0;
  for (auto at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
  return n;
}

TEST(XmlItemFile, EntriesAreNamesUnderItemsAtAnyDepthInDocumentOrder) {
  auto ids = ReadXmlItemList(TestFile("plant.xml"));
  ASSERT_TRUE(ids);
  EXPECT_EQ(*ids, (Ids{"Area1.Pump2.Speed", "Area1.Pump2.Running", "Area1.Tank1.Level",
                       "Area1.Tank1.Temperature", "Area1.Pump2.Speed"}));
}

TEST(XmlItemFile, EveryAttributeOfEveryElementIsTraced) {
  ::testing::internal::CaptureStdout();
  auto ids = ReadXmlItemList(TestFile("plant.xml"));
  std::string trace = ::testing::internal::GetCapturedStdout();
  ASSERT_TRUE(ids);
  // version and site on ItemList, id on the first Item, name on Area.
  EXPECT_EQ(Count(trace, "\nAttribute type: attribute\n"), 4);
  EXPECT_EQ(trace.size(), 4 * std::string("\nAttribute type: attribute\n").size());
}

TEST(XmlItemFile, MissingAndMalformedFilesAreRefusedWithAReason) {
  std::string reason;
  EXPECT_FALSE(ReadXmlItemList(TestFile("no-such-file.xml"), &reason));
  EXPECT_FALSE(reason.empty());
  reason.clear();
  EXPECT_FALSE(ReadXmlItemList(TestFile("malformed.xml"), &reason));
  EXPECT_NE(reason.find("line 7"), std::string::npos) << reason;
  EXPECT_FALSE(ReadXmlItemList(TAGWELL_TESTDATA));  // a folder
}

TEST(XmlItemFile, AWellFormedFileWithoutEntriesGivesNone) {
  TempDir dir;
  WriteFile(dir.File("empty.xml"), "<ItemList><Item/><Item><Name/></Item></ItemList>");
  auto ids = ReadXmlItemList(dir.File("empty.xml"));
  ASSERT_TRUE(ids);
  EXPECT_EQ(*ids, Ids{""}) << "an empty Name is still an entry";
  WriteFile(dir.File("none.xml"), "<?xml version='1.0'?><Nothing/>");
  ids = ReadXmlItemList(dir.File("none.xml"));
  ASSERT_TRUE(ids);
  EXPECT_TRUE(ids->empty());
}

TEST(XmlItemFile, TextAndEncodingArePassedOnAsUtf8) {
  TempDir dir;
  WriteFile(dir.File("latin1.xml"),
            "<?xml version='1.0' encoding='ISO-8859-1'?>"
            "<L><Item><Name>K\xfchlung.Temp &amp; Druck</Name></Item></L>");
  auto ids = ReadXmlItemList(dir.File("latin1.xml"));
  ASSERT_TRUE(ids);
  EXPECT_EQ(*ids, Ids{"K\xc3\xbchlung.Temp & Druck"});
}

std::string Nested(int depth) {
  std::string xml;
  for (int i = 0; i < depth; ++i) xml += "<Item>";
  xml += "<Name>Deep.Item</Name>";
  for (int i = 0; i < depth; ++i) xml += "</Item>";
  return xml;
}

TEST(XmlItemFile, NestingIsFollowedDeepButNotWithoutBound) {
  TempDir dir;
  WriteFile(dir.File("deep.xml"), Nested(999));
  auto ids = ReadXmlItemList(dir.File("deep.xml"));
  ASSERT_TRUE(ids);
  EXPECT_EQ(*ids, Ids{"Deep.Item"});

  // Would keep the window busy for minutes if it reached the DOM parser.
  WriteFile(dir.File("deeper.xml"), Nested(200000));
  std::string reason;
  EXPECT_FALSE(ReadXmlItemList(dir.File("deeper.xml"), &reason));
  EXPECT_NE(reason.find("nested deeper than 1000"), std::string::npos) << reason;
}

}  // namespace
}  // namespace tagwell
