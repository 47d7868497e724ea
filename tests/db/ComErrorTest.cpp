#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "db/ComError.h"
#include "db/ConnectionString.h"

namespace tagwell {
namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

std::string Format(const ComError& error) {
  ErrorText text;
  FormatComError(error, text);
  return text.str();
}

TEST(FormatComError, FiveLinesWithNullForMissingErrorInformation) {
  EXPECT_EQ(Format(ComError::FromCode(com::E_POINTER)),
            "Error:\nCode = 80004003\nCode meaning = Invalid pointer\nSource = (null)\n"
            "Description = (null)");
  EXPECT_EQ(Format(ComError{SqliteHresult(1), "Unable to execute statement", "QSQLITE",
                            "no such table: OPCvalues"}),
            "Error:\nCode = 80040201\nCode meaning = Unable to execute statement\n"
            "Source = QSQLITE\nDescription = no such table: OPCvalues");
}

TEST(FormatComError, MeaningFallsBackToTheCodesGenericMessage) {
  EXPECT_EQ(ComErrorMessage(SqliteHresult(14)), "IDispatch error #14");
  EXPECT_EQ(ComErrorMessage(com::MakeHresult(0x8004FFFF)), "IDispatch error #65023");
  EXPECT_EQ(ComErrorMessage(com::MakeHresult(0x800401FF)), "Unknown error 0x800401FF");
  EXPECT_EQ(ComErrorMessage(adErrObjectClosed), "Unknown error 0x800A0E78");
  EXPECT_EQ(ComErrorMessage(com::E_FAIL), "Unspecified error");
  EXPECT_THAT(Format(ComError{SqliteHresult(5), "", "QSQLITE", "database is locked"}),
              HasSubstr("\nCode meaning = IDispatch error #5\n"));
}

TEST(FormatComError, LongTextsAreShortenedKeepingEveryLine) {
  // Multi-byte characters so that a cut in the middle of one would show.
  std::string longText;
  for (int i = 0; i < 400; ++i) longText += "\xC3\xA9";  // é
  ErrorText text;
  FormatComError(ComError{com::E_FAIL, longText, "QSQLITE", longText}, text);
  const std::string s = text.str();
  EXPECT_LE(s.size(), kErrorTextSize - 1);
  EXPECT_THAT(s, StartsWith("Error:\nCode = 80004005\nCode meaning = "));
  EXPECT_THAT(s, HasSubstr("\nSource = QSQLITE\nDescription = "));
  EXPECT_THAT(s, EndsWith("..."));
  EXPECT_EQ(com::TruncateUtf8(s, s.size()).size(), s.size()) << "cut inside a character";
}

TEST(FormatComError, FieldNameSurvivesALongDescription) {
  ErrorText text;
  FormatFieldError(ComError{adErrItemNotFound, "", "AdoTable", std::string(600, 'd')}, "Quality",
                   text);
  EXPECT_LE(text.size(), kErrorTextSize - 1);
  EXPECT_THAT(text.str(), EndsWith("...\n**For Field Name:Quality"));

  FormatFieldError(ComError::FromCode(com::E_POINTER), std::string(900, 'n'), text);
  EXPECT_LE(text.size(), kErrorTextSize - 1);
  EXPECT_THAT(text.str(), StartsWith("Error:\nCode = 80004003\n"));
  EXPECT_THAT(text.str(), HasSubstr("Description = (null)\n**For Field Name:nnn"));
  EXPECT_THAT(text.str(), EndsWith("n..."));
}

TEST(ConnectionString, ParsesKeysWithoutCaseAndQuotedValues) {
  ConnectionAttributes a;
  std::string reason;
  ASSERT_TRUE(ParseConnectionString(
      " provider = SQLite ;DATA SOURCE=\"/x/a;b \"\"c\"\".db\";;Busy Timeout='50'", &a, &reason))
      << reason;
  EXPECT_EQ(a.Get("Provider"), "SQLite");
  EXPECT_EQ(a.Get("data source"), "/x/a;b \"c\".db");
  EXPECT_EQ(a.Get("busy timeout"), "50");
  EXPECT_FALSE(a.Has("user id"));

  EXPECT_FALSE(ParseConnectionString("Provider=SQLite;Data Source", &a, &reason));
  EXPECT_FALSE(ParseConnectionString("Data Source=\"/x/a.db", &a, &reason));
  EXPECT_FALSE(ParseConnectionString("Data Source=\"/x\" y", &a, &reason));
}

TEST(ConnectionString, ValuesAreQuotedOnlyWhenTheyMustBe) {
  for (std::string path : {"/plant/values.db", "/a;b.db", " lead.db", "\"q.db", "it's.db", ""}) {
    const std::string value = ConnectionStringValue(path);
    if (path == "/plant/values.db" || path == "it's.db" || path.empty()) {
      EXPECT_EQ(value, path);
    }
    ConnectionAttributes a;
    std::string reason;
    ASSERT_TRUE(ParseConnectionString("Provider=SQLite;Data Source=" + value, &a, &reason));
    EXPECT_EQ(a.Get("Data Source"), path);
  }
}

TEST(ConnectionString, SqliteUriEscapesWhatAUriWouldRead) {
  EXPECT_EQ(SqliteOpenUri("/var/lib/plant.db"), "file:///var/lib/plant.db?mode=rw");
  EXPECT_EQ(SqliteOpenUri("rel/p a?b#c%d.db"), "file:rel/p%20a%3Fb%23c%25d.db?mode=rw");
  EXPECT_EQ(SqliteOpenUri("/d\xC3\xA9.db"), "file:///d%C3%A9.db?mode=rw");
}

}  // namespace
}  // namespace tagwell
