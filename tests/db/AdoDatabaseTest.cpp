#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "db/AdoDatabase.h"
#include "tests/db/DbFixture.h"
#include "tests/support/TempDir.h"

namespace tagwell {
namespace {

using ::testing::EndsWith;
using testing::FileExists;
using ::testing::HasSubstr;
using testing::MakeOpcValuesDatabase;
using testing::SqlPeek;
using ::testing::StartsWith;

class AdoDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(MakeOpcValuesDatabase(path_));
    SqlPeek peek(path_);
    ASSERT_TRUE(peek.Exec(
        "INSERT INTO OPCvalues VALUES (1, 'Tank.Level', 'float', 8, 0, 1, 2, 3, 2024, '12.5', "
        "'Good'), (2, 'Tank.Alarm', 'boolean', 8, 0, 2, 2, 3, 2024, '1', 'Good'), "
        "(3, 'Tank.Name', 'string', 8, 0, 3, 2, 3, 2024, 'North', NULL)"));
  }
  void TearDown() override { EXPECT_THAT(warnings_.messages(), ::testing::IsEmpty()); }

  std::string Connection() const { return "Provider=SQLite;Data Source=" + path_; }
  static std::string Text(const AdoDatabase& db) {
    char text[kErrorTextSize];
    db.GetErrorText(text);
    return text;
  }
  static std::string Text(const AdoTable& table) {
    char text[kErrorTextSize];
    table.GetErrorText(text);
    return text;
  }

  testing::QtWarnings warnings_;
  testing::TempDir dir_;
  std::string path_ = dir_.File("plant.db");
};

TEST_F(AdoDatabaseTest, NewObjectsCarryTheirInitialTexts) {
  AdoDatabase db;
  AdoTable table;
  EXPECT_EQ(Text(db), "NULL POINTER");
  EXPECT_EQ(Text(table), "");
  EXPECT_EQ(db.ptrConnection, nullptr);
  EXPECT_EQ(table.ptrRecordset, nullptr);
}

TEST_F(AdoDatabaseTest, CloseWithoutOpenFailsWithEPointerAndOpenStillWorks) {
  AdoDatabase db;
  EXPECT_FALSE(db.Close());
  EXPECT_EQ(Text(db),
            "Error:\nCode = 80004003\nCode meaning = Invalid pointer\nSource = (null)\n"
            "Description = (null)");
  ASSERT_TRUE(db.Open(Connection(), "", ""));
  EXPECT_NE(db.ptrConnection, nullptr);
  EXPECT_TRUE(db.Close());
  // A second Close reaches a closed connection: an error, and the pointer goes.
  EXPECT_FALSE(db.Close());
  EXPECT_THAT(Text(db), StartsWith("Error:\nCode = 800a0e78\n"));
  EXPECT_EQ(db.ptrConnection, nullptr);
}

TEST_F(AdoDatabaseTest, OpenRefusesWhatIsNotAnExistingDatabase) {
  AdoDatabase db;
  const std::string missing = dir_.File("missing.db");
  EXPECT_FALSE(db.Open("Provider=SQLite;Data Source=" + missing, "", ""));
  EXPECT_EQ(db.ptrConnection, nullptr);
  EXPECT_THAT(Text(db), StartsWith("Error:\nCode = 8004020e\nCode meaning = "));
  EXPECT_THAT(Text(db),
              HasSubstr("\nSource = QSQLITE\nDescription = unable to open database file"));
  EXPECT_FALSE(FileExists(missing));

  const std::string notDb = dir_.File("notes.db");
  testing::WriteFile(notDb, std::string(2048, 'x'));
  EXPECT_FALSE(db.Open("Provider=SQLite;Data Source=" + notDb, "", ""));
  EXPECT_THAT(Text(db), HasSubstr("Description = file is not a database"));
  EXPECT_EQ(testing::ReadFile(notDb), std::string(2048, 'x'));

  EXPECT_FALSE(db.Open("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path_, "", ""));
  EXPECT_THAT(Text(db), StartsWith("Error:\nCode = 800a0e7a\n"));
  EXPECT_THAT(Text(db), HasSubstr("Microsoft.Jet.OLEDB.4.0"));
  EXPECT_FALSE(db.Open("Provider=SQLite", "", ""));
  EXPECT_THAT(Text(db), HasSubstr("Data Source"));
  EXPECT_FALSE(db.Open(Connection() + ";Busy Timeout=soon", "", ""));
  EXPECT_THAT(Text(db), HasSubstr("Busy Timeout"));
  EXPECT_EQ(db.ptrConnection, nullptr);
}

TEST_F(AdoDatabaseTest, PathsWithUriCharactersOpenTheRightFile) {
  const std::string odd = dir_.File("a b#c?d%41;e&f=g") + ".db";
  ASSERT_TRUE(MakeOpcValuesDatabase(odd));
  AdoDatabase db;
  ASSERT_TRUE(db.Open("Provider=SQLite;Data Source=\"" + odd + "\"", "", "")) << Text(db);
  ASSERT_TRUE(db.Execute("INSERT INTO OPCvalues (Name) VALUES ('odd')"));
  EXPECT_EQ(SqlPeek(odd).Scalar("SELECT Name FROM OPCvalues"), "odd");
  EXPECT_FALSE(FileExists(dir_.File("a b")));
}

TEST_F(AdoDatabaseTest, GuardsAnswerWithoutTouchingTheStore) {
  AdoDatabase db;
  AdoTable table;
  EXPECT_FALSE(db.Open(Connection() + ".gone", "", ""));
  EXPECT_FALSE(db.Execute("SELECT 1", table));
  table.ptrRecordset = std::make_shared<ado::Recordset>();
  EXPECT_FALSE(db.OpenTable(ado::adCmdText, "SELECT * FROM OPCvalues", table));
  EXPECT_EQ(Text(db), "Invalid Connection");
  EXPECT_EQ(table.ptrRecordset, nullptr);

  EXPECT_EQ(table.IsEOF(), 0);
  EXPECT_EQ(Text(table), "Invalid Record");
  EXPECT_EQ(table.MoveNext(), 0);
  EXPECT_THAT(Text(table), StartsWith("Error:\nCode = 80004003\n"));
  double value = 7;
  EXPECT_FALSE(table.GetFieldValue("Value", &value));
  EXPECT_THAT(Text(table), EndsWith("Description = (null)\n**For Field Name:Value"));
  EXPECT_EQ(value, 7);
}

TEST_F(AdoDatabaseTest, WalksARecordsetAndReadsEachKindOfField) {
  AdoDatabase db;
  AdoTable table;
  ASSERT_TRUE(db.Open(Connection(), "", ""));
  ASSERT_TRUE(db.OpenTable(ado::adCmdText, "SELECT * FROM OPCvalues ORDER BY number", table))
      << Text(db);
  std::vector<std::string> names;
  char name[128];
  for (; table.IsEOF() == 0; table.MoveNext()) {
    ASSERT_TRUE(table.GetFieldValue("name", name)) << Text(table);
    names.push_back(name);
  }
  EXPECT_EQ(table.IsEOF(), -1);
  EXPECT_THAT(names, ::testing::ElementsAre("Tank.Level", "Tank.Alarm", "Tank.Name"));

  table.MoveFirst();
  std::int32_t number = 0;
  float level = 0;
  double levelDouble = 0;
  EXPECT_TRUE(table.GetFieldValue("Number", &number));
  EXPECT_TRUE(table.GetFieldValue("Value", &level));  // text that reads as a number
  EXPECT_TRUE(table.GetFieldValue("Value", &levelDouble));
  EXPECT_TRUE(table.GetFieldValue("Year", name));
  EXPECT_EQ(number, 1);
  EXPECT_EQ(level, 12.5f);
  EXPECT_EQ(levelDouble, 12.5);
  EXPECT_STREQ(name, "2024");

  table.MoveLast();
  EXPECT_TRUE(table.GetFieldValue("Quality", name));
  EXPECT_STREQ(name, "");                                 // NULL reads as empty text...
  EXPECT_FALSE(table.GetFieldValue("Quality", &number));  // ...and is no number
  EXPECT_THAT(Text(table), HasSubstr("Code = 80020005\nCode meaning = Type mismatch.\n"));
  EXPECT_FALSE(table.GetFieldValue("Value", &number));  // "North"
  EXPECT_THAT(Text(table), EndsWith("\n**For Field Name:Value"));

  char small[4];
  EXPECT_TRUE(table.GetFieldValue("Name", small));
  EXPECT_STREQ(small, "Tan");

  table.MovePrevious();
  table.MovePrevious();
  table.MovePrevious();  // before the first row: BOF, no current record
  EXPECT_FALSE(table.GetFieldValue("Name", name));
  EXPECT_THAT(Text(table), StartsWith("Error:\nCode = 800a0bcd\n"));
  table.MovePrevious();
  EXPECT_THAT(Text(table), StartsWith("Error:\nCode = 800a0bcd\n"));
  EXPECT_NE(table.ptrRecordset, nullptr);
}

TEST_F(AdoDatabaseTest, FieldAndMoveFailuresKeepTheRecordset) {
  AdoDatabase db;
  AdoTable table;
  ASSERT_TRUE(db.Open(Connection(), "", ""));
  ASSERT_TRUE(db.OpenTable(ado::adCmdTable, "OPCvalues", table)) << Text(db);
  char value[64];
  EXPECT_FALSE(table.GetFieldValue("Temperature", value));
  EXPECT_THAT(Text(table), StartsWith("Error:\nCode = 800a0cc1\n"));
  EXPECT_THAT(Text(table), EndsWith("\n**For Field Name:Temperature"));

  table.MoveLast();
  table.MoveNext();
  EXPECT_EQ(table.IsEOF(), -1);
  table.MoveNext();  // past the end
  EXPECT_THAT(Text(table), StartsWith("Error:\nCode = 800a0bcd\n"));
  ASSERT_NE(table.ptrRecordset, nullptr);
  // A later operation succeeds and leaves the last failure's text.
  table.MoveFirst();
  EXPECT_TRUE(table.GetFieldValue("Name", value));
  EXPECT_THAT(Text(table), StartsWith("Error:\nCode = 800a0bcd\n"));
}

TEST_F(AdoDatabaseTest, ExecuteKeepsTheConnectionAndExecuteIntoATableDropsItsRecordset) {
  AdoDatabase db;
  AdoTable table;
  ASSERT_TRUE(db.Open(Connection(), "", ""));
  EXPECT_TRUE(db.Execute("DELETE FROM OPCvalues WHERE Number = 3"));
  EXPECT_FALSE(db.Execute("DELETE FROM Nowhere"));
  EXPECT_THAT(Text(db), HasSubstr("\nSource = QSQLITE\nDescription = no such table: Nowhere"));
  EXPECT_NE(db.ptrConnection, nullptr);

  ASSERT_TRUE(db.Execute("SELECT count(*) AS Rows FROM OPCvalues", table));
  std::int32_t rows = 0;
  EXPECT_TRUE(table.GetFieldValue("Rows", &rows));
  EXPECT_EQ(rows, 2);
  EXPECT_FALSE(db.Execute("SELEKT 1", table));
  EXPECT_EQ(table.ptrRecordset, nullptr);

  // A statement without rows gives a closed recordset: asking it for EOF is
  // an error that drops it.
  ASSERT_TRUE(db.Execute("UPDATE OPCvalues SET Quality = 'Bad'", table));
  EXPECT_EQ(table.IsEOF(), 0);
  EXPECT_THAT(Text(table), StartsWith("Error:\nCode = 800a0e78\n"));
  EXPECT_EQ(table.ptrRecordset, nullptr);
}

TEST_F(AdoDatabaseTest, ARecordsetKeepsItsConnectionAndClosesWithIt) {
  AdoTable kept;
  {
    AdoDatabase db;
    ASSERT_TRUE(db.Open(Connection(), "", ""));
    ASSERT_TRUE(db.OpenTable(ado::adCmdText, "SELECT Name FROM OPCvalues", kept));
  }
  char name[64];
  EXPECT_TRUE(kept.GetFieldValue("Name", name));  // the recordset holds the connection
  EXPECT_STREQ(name, "Tank.Level");

  AdoDatabase db;
  AdoTable table;
  ASSERT_TRUE(db.Open(Connection(), "", ""));
  ASSERT_TRUE(db.OpenTable(ado::adCmdText, "SELECT Name FROM OPCvalues", table));
  ASSERT_TRUE(db.Close());
  EXPECT_EQ(table.IsEOF(), 0);
  EXPECT_THAT(Text(table), StartsWith("Error:\nCode = 800a0e78\n"));
  EXPECT_FALSE(db.OpenTable(ado::adCmdText, "SELECT 1", table));
  EXPECT_THAT(Text(db), StartsWith("Error:\nCode = 800a0e7d\n"));
}

TEST_F(AdoDatabaseTest, NumbersConvertOnlyWhenTheyFit) {
  AdoDatabase db;
  AdoTable table;
  ASSERT_TRUE(db.Open(Connection(), "", ""));
  ASSERT_TRUE(
      db.Execute("SELECT 3000000000 AS Big, 2.5 AS Half, -3.5 AS NegHalf, ' 42 ' AS Padded, "
                 "1e39 AS Huge, 0.1 AS Tenth",
                 table));
  std::int32_t i = 0;
  float f = 0;
  double d = 0;
  char text[64];
  EXPECT_FALSE(table.GetFieldValue("Big", &i));
  EXPECT_THAT(Text(table), HasSubstr("Code = 8002000a\nCode meaning = Out of present range.\n"));
  EXPECT_TRUE(table.GetFieldValue("Half", &i));
  EXPECT_EQ(i, 2);
  EXPECT_TRUE(table.GetFieldValue("NegHalf", &i));
  EXPECT_EQ(i, -4);
  EXPECT_TRUE(table.GetFieldValue("Padded", &i));
  EXPECT_EQ(i, 42);
  EXPECT_FALSE(table.GetFieldValue("Huge", &f));
  EXPECT_TRUE(table.GetFieldValue("Huge", &d));
  EXPECT_EQ(d, 1e39);
  EXPECT_TRUE(table.GetFieldValue("Tenth", text));
  EXPECT_STREQ(text, "0.1");
}

TEST_F(AdoDatabaseTest, ErrorTextCopiesAreBounded) {
  AdoDatabase db;
  db.errorText = std::string(40, 'a') + "\xC3\xA9";
  char small[42];
  db.GetErrorText(small);
  EXPECT_EQ(std::string(small), std::string(40, 'a'));  // the é does not fit whole
}

}  // namespace
}  // namespace tagwell
