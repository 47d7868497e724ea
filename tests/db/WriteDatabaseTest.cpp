#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlQuery>

#include "db/Database.h"
#include "platform/com/Text.h"
#include "platform/com/Variant.h"
#include "tests/db/DbFixture.h"
#include "tests/support/CommaLocale.h"
#include "tests/support/FakeUi.h"
#include "tests/support/TempDir.h"

namespace tagwell {
namespace {

using ::testing::ElementsAre;
using testing::FakeClient;
using testing::FileExists;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using testing::MakeOpcValuesDatabase;
using testing::ReadFile;
using testing::SqlPeek;
using ::testing::StartsWith;

constexpr char kEmptyStringBox[] =
    "WriteDatabase error: empty string can not be written in database.\nFor item name - see "
    "error message in Logfile.";

// A reading as the readers leave it, of type `valueType`.
void SetReading(Client& client, const char* itemName, int valueType) {
  CurrentReading& r = client.reading;
  r.itemName = itemName;
  r.qualityText = "Good";
  r.hour = 14, r.minute = 5, r.second = 59, r.day = 29, r.month = 2, r.year = 2024;
  r.valueType = valueType;
  r.floatFromDouble = false;
  r.booleanTypeName = "boolean";
  r.integerTypeName = "integer";
  r.longTypeName = "long";
  r.floatTypeName = "float";
  r.doubleTypeName = "double";
  r.stringTypeName = "string";
}

class WriteDatabaseTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(MakeOpcValuesDatabase(path_, /*withCounter=*/GetParam()));
    fake_.client.state.databasePath = path_;
    fake_.client.state.databaseWriting = 1;
    SetReading(client(), "Line1.Flow", 5);
  }
  void TearDown() override {
    com::SysFreeString(text_);
    EXPECT_THAT(warnings_.messages(), IsEmpty());
  }

  Client& client() { return fake_.client; }
  std::string Log() const { return ReadFile(dir_.File("Logfile.txt")); }
  const std::vector<testing::ShownMessage>& Boxes() const { return fake_.window.messages.shown; }
  void SetString(std::string_view utf8) {
    com::SysFreeString(text_);
    text_ = com::SysAllocStringUtf8(utf8);
    client().reading.valueType = 6;
    client().reading.stringValue = text_;
  }
  std::vector<std::string> Numbers() {
    std::vector<std::string> numbers;
    for (auto& row : SqlPeek(path_).Rows("SELECT Number FROM OPCvalues ORDER BY rowid"))
      numbers.push_back(row[0]);
    return numbers;
  }
  // Writes n readings and returns the numbers of the rows they stored.
  std::vector<std::string> WriteRows(int n) {
    const std::string last = SqlPeek(path_).Scalar("SELECT coalesce(max(rowid), 0) FROM OPCvalues");
    for (int i = 0; i < n; ++i) EXPECT_EQ(WriteDatabase(client()), 0);
    std::vector<std::string> numbers;
    for (auto& row :
         SqlPeek(path_).Rows(QString("SELECT Number FROM OPCvalues WHERE rowid > %1 ORDER BY rowid")
                                 .arg(QString::fromStdString(last))))
      numbers.push_back(row[0]);
    return numbers;
  }

  testing::QtWarnings warnings_;
  testing::TempDir dir_;
  std::string path_ = dir_.File("plant.db");
  FakeClient fake_{dir_.path()};
  com::BSTR text_ = nullptr;
};

// Every test runs on a database with the row counter of OPCvalues.sql and
// on one with the bare table: both must number alike.
INSTANTIATE_TEST_SUITE_P(Schemas, WriteDatabaseTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Counted" : "BareTable"; });

TEST_P(WriteDatabaseTest, NumberIsTheRowCountIncludingTheNewRow) {
  EXPECT_THAT(WriteRows(3), ElementsAre("1", "2", "3"));
  // Rows deleted by other means: the next number repeats one already there.
  ASSERT_TRUE(SqlPeek(path_).Exec("DELETE FROM OPCvalues WHERE Number IN (1, 2)"));
  EXPECT_THAT(WriteRows(2), ElementsAre("2", "3"));
  EXPECT_THAT(Numbers(), ElementsAre("3", "2", "3"));
  EXPECT_THAT(Log(), IsEmpty());
}

TEST_P(WriteDatabaseTest, NumberKeepsTheLow16BitsAsASignedValue) {
  ASSERT_TRUE(SqlPeek(path_).AddRows(32766));
  EXPECT_THAT(WriteRows(3), ElementsAre("32767", "-32768", "-32767"));
  ASSERT_TRUE(SqlPeek(path_).AddRows(65535 - 32769));
  EXPECT_THAT(WriteRows(2), ElementsAre("0", "1"));
}

// An analog item's reading of a 64-bit value, as the readers leave it.
void Analog(CurrentReading& r, double d) {
  r.floatValue = static_cast<float>(r.doubleValue = d);
  r.floatFromDouble = true;
}

struct ValueCase {
  const char* name;
  int valueType;
  void (*set)(CurrentReading&);
  const char* type;
  const char* value;
};

const ValueCase kValueCases[] = {
    {"true", 1, [](CurrentReading& r) { r.booleanValue = 1; }, "boolean", "1"},
    {"false", 1, [](CurrentReading& r) { r.booleanValue = 0; }, "boolean", "0"},
    {"negative integer", 2, [](CurrentReading& r) { r.integerValue = -5; }, "integer", "-5"},
    {"integer low bits", 2, [](CurrentReading& r) { r.integerValue = 70000; }, "integer", "4464"},
    {"unsigned long above 2^31", 3,
     [](CurrentReading& r) { r.longValue = static_cast<std::int32_t>(3000000000u); }, "long",
     "-1294967296"},
    {"float", 4, [](CurrentReading& r) { r.floatValue = 0.1f; }, "float", "0.1"},
    {"large float", 4, [](CurrentReading& r) { r.floatValue = -3.4028235e38f; }, "float",
     "-3.4028235e+38"},
    {"analog level", 4, [](CurrentReading& r) { Analog(r, 50.01221001221001); }, "float",
     "50.01221001221001"},
    {"analog meter total", 4, [](CurrentReading& r) { Analog(r, 123456789.5); }, "float",
     "123456789.5"},
    {"double", 5, [](CurrentReading& r) { r.doubleValue = 0.1 + 0.2; }, "double",
     "0.30000000000000004"},
    {"whole double", 5, [](CurrentReading& r) { r.doubleValue = 1500; }, "double", "1500"},
    {"unknown type", 9, [](CurrentReading& r) { r.doubleValue = 2.5; }, "double", "2.5"},
    {"fraction", 5, [](CurrentReading& r) { r.doubleValue = 53.50292; }, "double", "53.50292"},
};

TEST_P(WriteDatabaseTest, EachValueTypeStoresItsTypeWordAndValueText) {
  testing::ScopedCommaLocale desktop;  // Qt takes the desktop's locale; the texts must not
  for (const ValueCase& c : kValueCases) {
    SetReading(client(), c.name, c.valueType);
    c.set(client().reading);
    EXPECT_EQ(WriteDatabase(client()), 0) << c.name;
  }
  SetString("abc");
  client().reading.itemName = "string";
  WriteDatabase(client());
  SetString(" ");
  client().reading.itemName = "blank";
  WriteDatabase(client());

  auto rows = SqlPeek(path_).Rows("SELECT Name, Type, Value FROM OPCvalues ORDER BY rowid");
  ASSERT_EQ(rows.size(), std::size(kValueCases) + 2);
  for (std::size_t i = 0; i < std::size(kValueCases); ++i) {
    EXPECT_THAT(rows[i],
                ElementsAre(kValueCases[i].name, kValueCases[i].type, kValueCases[i].value));
  }
  EXPECT_THAT(rows[std::size(kValueCases)], ElementsAre("string", "string", "abc"));
  EXPECT_THAT(rows.back(), ElementsAre("blank", "string", " "));
}

TEST_P(WriteDatabaseTest, ARowHoldsTheElevenColumnsInTheirStoredTypes) {
  client().reading.itemName = "Kessel 1.Temp\xC3\xA9ratur";
  client().reading.qualityText = "Uncertain";
  client().reading.doubleValue = -0.5;
  client().reading.year = 40000;  // a WORD handed over as a signed 16-bit value
  ASSERT_EQ(WriteDatabase(client()), 0);
  auto rows =
      SqlPeek(path_).Rows("SELECT *, typeof(Number), typeof(Hours), typeof(Value) FROM OPCvalues");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_THAT(rows[0],
              ElementsAre("1", "Kessel 1.Temp\xC3\xA9ratur", "double", "14", "5", "59", "29", "2",
                          "-25536", "-0.5", "Uncertain", "integer", "integer", "text"));
}

TEST_P(WriteDatabaseTest, EmptyStringsAreRefusedWithOneBoxUntilTheNextReset) {
  SetString("");
  client().reading.itemName = "Line1.Label";
  EXPECT_EQ(WriteDatabase(client()), 1);
  client().reading.itemName = "Line2.Label";
  client().reading.stringValue = nullptr;  // a null BSTR is empty too
  EXPECT_EQ(WriteDatabase(client()), 1);
  SetString("ok");
  EXPECT_EQ(WriteDatabase(client()), 0);

  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text, kEmptyStringBox);
  EXPECT_EQ(Boxes()[0].caption, "WriteDatabase function");
  EXPECT_EQ(Boxes()[0].icon, ui::Icon::Warning);
  EXPECT_EQ(Boxes()[0].owner, ui::Owner::None);
  EXPECT_EQ(Log(),
            "*** WriteDatabase error:empty string can not be written in database.\n"
            "*** Item name: Line1.Label\n"
            "*** WriteDatabase error:empty string can not be written in database.\n"
            "*** Item name: Line2.Label\n");
  EXPECT_THAT(Numbers(), ElementsAre("1"));  // refused rows are not counted either
  EXPECT_EQ(client().dbWriter.emptyStringWarnings, 2);

  ResetClientState(client());
  SetString("");
  EXPECT_EQ(WriteDatabase(client()), 1);
  EXPECT_EQ(Boxes().size(), 2u);
}

TEST_P(WriteDatabaseTest, TheLockIsReleasedWhileTheWarningBoxIsUp) {
  struct Probe final : ui::MessageBox {
    std::string path;
    bool couldWrite = false;
    int Show(std::string_view, std::string_view, ui::Icon, ui::Owner) override {
      couldWrite = SqlPeek(path).Exec("INSERT INTO OPCvalues (Name) VALUES ('other client')");
      return ui::IDOK;
    }
  } probe;
  probe.path = path_;
  client().ui.messageBox = &probe;
  SetString("");
  EXPECT_EQ(WriteDatabase(client()), 1);
  EXPECT_TRUE(probe.couldWrite);
}

// An outage is one log entry however many rows it costs, and its end one
// line; a file that cannot be opened is an outage like any other.
TEST_P(WriteDatabaseTest, EachOutageIsLoggedOnceAndItsEndOnce) {
  const std::string missing = dir_.File("missing.db");
  const std::string notes = dir_.File("notes.txt");
  testing::WriteFile(notes, std::string(4096, 'n'));
  for (const std::string& path : {missing, notes, dir_.path()}) {
    client().state.databasePath = path;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(WriteDatabase(client()), 0);
    client().state.databasePath = path_;
    EXPECT_EQ(WriteDatabase(client()), 0);
  }
  EXPECT_FALSE(FileExists(missing));
  EXPECT_EQ(ReadFile(notes), std::string(4096, 'n'));
  EXPECT_THAT(Boxes(), IsEmpty());
  EXPECT_EQ(SqlPeek(path_).Scalar("SELECT count(*) FROM OPCvalues"), "3");
  const std::string log = Log();
  const auto count = [&](const std::string& text) {
    int n = 0;
    for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("*** WriteDatabase error:"), 3);
  EXPECT_EQ(count("WriteDatabase: rows are stored again in " + path_ + "\n"), 3);
  EXPECT_THAT(log, HasSubstr("Description = unable to open database file\n"));
  EXPECT_THAT(log, HasSubstr("Description = file is not a database\n"));
}

TEST_P(WriteDatabaseTest, AFailureAfterOpeningIsLoggedAndRecordingGoesOn) {
  ASSERT_TRUE(SqlPeek(path_).Exec("ALTER TABLE OPCvalues DROP COLUMN Quality"));
  EXPECT_EQ(WriteDatabase(client()), 0);
  EXPECT_EQ(WriteDatabase(client()), 0);
  const std::string entry =
      "*** WriteDatabase error:Error:\nCode = 80040201\nCode meaning = Unable to execute "
      "statement\nSource = QSQLITE\nDescription = table OPCvalues has no column named Quality\n";
  EXPECT_EQ(Log(), entry);
  EXPECT_THAT(Boxes(), IsEmpty());
  EXPECT_EQ(SqlPeek(path_).Scalar("SELECT count(*) FROM OPCvalues"), "0");

  ASSERT_TRUE(SqlPeek(path_).Exec("ALTER TABLE OPCvalues ADD COLUMN Quality TEXT"));
  EXPECT_THAT(WriteRows(2), ElementsAre("1", "2"));
  EXPECT_EQ(Log(), entry + "WriteDatabase: rows are stored again in " + path_ + "\n");
}

TEST(CheckRecordingDatabase, TakesOnlyAnExistingDatabaseWithTheTableAndItsColumns) {
  testing::QtWarnings warnings;
  testing::TempDir dir;
  const std::string good = dir.File("plant.db");
  ASSERT_TRUE(MakeOpcValuesDatabase(good));
  testing::WriteFile(dir.File("notes.txt"), "Pump 3 was serviced.\n");
  testing::WriteFile(dir.File("empty.db"), "");
  ASSERT_TRUE(MakeOpcValuesDatabase(dir.File("no-table.db")));
  ASSERT_TRUE(SqlPeek(dir.File("no-table.db")).Exec("ALTER TABLE OPCvalues RENAME TO Old"));
  ASSERT_TRUE(MakeOpcValuesDatabase(dir.File("no-column.db")));
  ASSERT_TRUE(SqlPeek(dir.File("no-column.db")).Exec("ALTER TABLE OPCvalues DROP COLUMN Quality"));
  ASSERT_TRUE(SqlPeek(dir.File("no-column.db")).Exec("ALTER TABLE OPCvalues DROP COLUMN Day"));
  struct Case {
    std::string path;
    const char* reason;  // "" when the file is taken
  };
  const Case cases[] = {
      {good, ""},
      {dir.File("missing.db"), "the file does not exist."},
      {dir.path(), "it is a folder, not a database file."},
      {dir.File("notes.txt"),
       "it cannot be opened as a database for reading and writing (file is not a database)."},
      {dir.File("empty.db"), "it has no table OPCvalues."},
      {dir.File("no-table.db"), "it has no table OPCvalues."},
      {dir.File("no-column.db"), "its table OPCvalues has no column Day, Quality."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    std::string reason;
    EXPECT_EQ(CheckRecordingDatabase(c.path, &reason), *c.reason == '\0');
    EXPECT_EQ(reason, c.reason);
  }
  EXPECT_FALSE(FileExists(dir.File("missing.db"))) << "never created";
  EXPECT_EQ(ReadFile(dir.File("empty.db")), "");
  EXPECT_THAT(warnings.messages(), IsEmpty());
}

TEST_P(WriteDatabaseTest, AnEmptyFileIsADatabaseWithoutTheTable) {
  client().state.databasePath = dir_.File("empty.db");
  testing::WriteFile(dir_.File("empty.db"), "");
  EXPECT_EQ(WriteDatabase(client()), 0);
  EXPECT_THAT(Log(), StartsWith("*** WriteDatabase error:Error:\n"));
  EXPECT_THAT(Log(), HasSubstr("Description = no such table: OPCvalues\n"));
}

TEST_P(WriteDatabaseTest, PathsWithSpecialCharactersAreWrittenWhereTheyPoint) {
  const std::string odd = dir_.File("Halle 3; #2 ?100% 'x' ") + "\xC3\xA4.db";
  ASSERT_TRUE(MakeOpcValuesDatabase(odd, GetParam()));
  client().state.databasePath = odd;
  EXPECT_EQ(WriteDatabase(client()), 0);
  EXPECT_EQ(SqlPeek(odd).Scalar("SELECT count(*) FROM OPCvalues"), "1");
  EXPECT_THAT(Log(), IsEmpty());
}

TEST_P(WriteDatabaseTest, ConnectionStringIsThePrefixAndThePath) {
  std::string longPath = "/" + std::string(258, 'p');
  client().state.databasePath = longPath;
  WriteDatabase(client());
  EXPECT_EQ(client().dbWriter.connectionString, "Provider=SQLite;Data Source=" + longPath);
  EXPECT_EQ(client().dbWriter.connectionString.size(), 287u);
}

TEST_P(WriteDatabaseTest, ALockHeldByAnotherWriterIsWaitedForThenLogged) {
  SqlPeek other(path_);
  ASSERT_TRUE(other.Exec("BEGIN IMMEDIATE"));
  EXPECT_EQ(WriteDatabase(client()), 0);  // waits the busy timeout, then gives up
  EXPECT_THAT(Log(), StartsWith("*** WriteDatabase error:Error:\nCode = 80040205\n"));
  EXPECT_THAT(Log(), HasSubstr("Description = database is locked\n"));
  ASSERT_TRUE(other.Exec("COMMIT"));
  EXPECT_THAT(WriteRows(1), ElementsAre("1"));
}

// A tick's readings kept and stored together give the rows, numbers and
// contents that storing them one by one gives.
TEST_P(WriteDatabaseTest, ABatchedTickStoresWhatOneByOneStores) {
  const std::string single = dir_.File("single.db");
  ASSERT_TRUE(MakeOpcValuesDatabase(single, GetParam()));
  struct Reading {
    const char* name;
    int valueType;
  };
  const Reading readings[] = {{"OPC.ConnectionMonitor", 3}, {"Boiler.Setpoint", 4},
                              {"Line1.Running", 1},         {"Line1.BatchName", 6},
                              {"Boiler.Level", 2},          {"Line1.Flow", 5}};
  auto writeAll = [&] {
    for (const Reading& r : readings) {
      SetReading(client(), r.name, r.valueType);
      client().reading.doubleValue = 2.5, client().reading.floatValue = 0.1f;
      client().reading.longValue = -7, client().reading.integerValue = 300;
      client().reading.booleanValue = 1;
      if (r.valueType == 6) SetString("Batch 7");
      EXPECT_EQ(WriteDatabase(client()), 0);
    }
  };
  client().state.databasePath = single;
  writeAll();
  client().state.databasePath = path_;
  for (int tick = 0; tick < 2; ++tick) {
    RecordingBatch batch(client());
    client().flushDatabase = &FlushDatabase;
    writeAll();
    if (tick == 0) {
      EXPECT_EQ(SqlPeek(path_).Scalar("SELECT count(*) FROM OPCvalues"), "0");
    }
  }
  const QString all = "SELECT * FROM OPCvalues ORDER BY rowid";
  auto batched = SqlPeek(path_).Rows(all);
  ASSERT_EQ(batched.size(), 2 * std::size(readings));
  auto oneByOne = SqlPeek(single).Rows(all);
  for (std::size_t i = 0; i < oneByOne.size(); ++i) EXPECT_EQ(batched[i], oneByOne[i]) << i;
  EXPECT_EQ(batched.back()[0], "12");
}

// A row that fails in the middle of a tick is dropped alone: the others are
// stored with the numbers they get one by one, and the tick's failure is
// one log entry. A lock held elsewhere across a tick costs one wait and
// drops the tick, with one entry.
TEST_P(WriteDatabaseTest, AFailingRowOrAHeldLockInATick) {
  ASSERT_TRUE(SqlPeek(path_).Exec(
      "CREATE TRIGGER refuse BEFORE INSERT ON OPCvalues WHEN NEW.Name = 'Bad.Item' "
      "BEGIN SELECT RAISE(ABORT, 'refused'); END"));
  client().flushDatabase = &FlushDatabase;
  {
    RecordingBatch batch(client());
    for (const char* name : {"A", "Bad.Item", "B"}) {
      SetReading(client(), name, 5);
      WriteDatabase(client());
    }
  }
  EXPECT_EQ(SqlPeek(path_).Rows("SELECT Number, Name FROM OPCvalues ORDER BY rowid"),
            (std::vector<std::vector<std::string>>{{"1", "A"}, {"2", "B"}}));
  EXPECT_EQ(Log().find("*** WriteDatabase error:"), Log().rfind("*** WriteDatabase error:"));
  SqlPeek other(path_);
  ASSERT_TRUE(other.Exec("BEGIN IMMEDIATE"));
  {
    RecordingBatch batch(client());
    for (int i = 0; i < 20; ++i) WriteDatabase(client());
  }
  ASSERT_TRUE(other.Exec("COMMIT"));
  EXPECT_EQ(SqlPeek(path_).Scalar("SELECT count(*) FROM OPCvalues"), "2");
  EXPECT_EQ(Log().find("*** WriteDatabase error:"), Log().rfind("*** WriteDatabase error:"))
      << "the outage goes on: still one entry";
}

// A tick that runs while a box of an item list's load is open stores its
// rows (and the load's so far) at its own end, not when the box is closed.
TEST_P(WriteDatabaseTest, ATickInsideAnotherBatchStoresItsRowsAtItsEnd) {
  client().flushDatabase = &FlushDatabase;
  {
    RecordingBatch load(client());
    WriteDatabase(client());
    {
      RecordingBatch tick(client());
      WriteDatabase(client());
    }
    EXPECT_THAT(Numbers(), ElementsAre("1", "2"));
    WriteDatabase(client());
    EXPECT_THAT(Numbers(), ElementsAre("1", "2")) << "the load still collects";
  }
  EXPECT_THAT(Numbers(), ElementsAre("1", "2", "3"));
}

// A failure that ends the whole transaction (a full disk, an I/O error; a
// trigger's RAISE(ROLLBACK) does the same) costs the whole tick: nothing of
// it is stored outside the lock, and the next tick numbers from what the
// table holds.
TEST_P(WriteDatabaseTest, AFailureThatEndsTheTransactionDropsTheWholeTick) {
  ASSERT_TRUE(SqlPeek(path_).Exec(
      "CREATE TRIGGER refuse BEFORE INSERT ON OPCvalues WHEN NEW.Name = 'Bad.Item' "
      "BEGIN SELECT RAISE(ROLLBACK, 'refused'); END"));
  client().flushDatabase = &FlushDatabase;
  for (const auto& tick : {std::vector<const char*>{"A", "Bad.Item", "C", "D"}, {"E"}}) {
    RecordingBatch batch(client());
    for (const char* name : tick) {
      SetReading(client(), name, 5);
      WriteDatabase(client());
    }
  }
  EXPECT_EQ(SqlPeek(path_).Rows("SELECT Number, Name FROM OPCvalues"),
            (std::vector<std::vector<std::string>>{{"1", "E"}}));
  EXPECT_THAT(Log(), HasSubstr("Description = refused\n"));
  EXPECT_EQ(Log().find("*** WriteDatabase error:"), Log().rfind("*** WriteDatabase error:"));
  EXPECT_THAT(Log(), ::testing::Not(HasSubstr("no transaction is active")));
  if (GetParam()) {
    EXPECT_EQ(SqlPeek(path_).Scalar("SELECT Rows FROM OPCvaluesRowCount"), "1");
  }
}

TEST_P(WriteDatabaseTest, RecordsAlikeWithAndWithoutAnApplicationObject) {
  EXPECT_THAT(WriteRows(1), ElementsAre("1"));
  int argc = 1;
  char name[] = "tagwell_db_tests";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);  // as in the desktop client
  EXPECT_THAT(WriteRows(1), ElementsAre("2"));
}

}  // namespace
}  // namespace tagwell
