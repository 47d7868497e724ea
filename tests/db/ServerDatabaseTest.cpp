// Recording into PostgreSQL named by a connection file: the file, its
// check at Connect to Database, the rows and their numbers under two
// writers, the lease fence and an outage of the server. A private cluster
// per test program.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QSqlError>
#include <QSqlQuery>
#include <atomic>
#include <memory>
#include <thread>

#include "db/Database.h"
#include "db/ServerRecording.h"
#include "tests/db/DbFixture.h"
#include "tests/support/FakeUi.h"
#include "tests/support/PgDatabaseTest.h"
#include "tests/support/TempDir.h"

namespace tagwell {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using testing::PgCluster;
using testing::ReadFile;
using testing::WriteFile;

TEST(ConnectionFile, IsReadOrRefusedWithAReason) {
  testing::TempDir dir;
  WriteFile(dir.File("good.pass"), "s3cret\n");
  ::chmod(dir.File("good.pass").c_str(), 0600);
  WriteFile(dir.File("open.pass"), "s3cret\n");
  ::chmod(dir.File("open.pass").c_str(), 0644);
  struct Case {
    const char* text;
    const char* reason;  // nullptr: read
  } cases[] = {
      {"[database]\ndriver=postgresql\nhost=db1\nport=5433\ndatabase=rec\nuser=u\n"
       "password_file=good.pass\n",
       nullptr},
      {"driver = PostgreSQL\ndatabase = rec\npassword = 'inline pw'\n", nullptr},
      {"driver=oracle\ndatabase=rec\n", "names the driver \"oracle\""},
      {"driver=postgresql\n", "names no database"},
      {"driver=postgresql\ndatabase=rec\nport=70000\n", "is not a number from 1 to 65535"},
      {"driver=postgresql\ndatabase=rec\nport=54x\n", "is not a number from 1 to 65535"},
      {"driver=postgresql\ndatabase=rec\npassword_file=open.pass\n", "(chmod 600)"},
      {"driver=postgresql\ndatabase=rec\npassword_file=none.pass\n", "does not exist"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    WriteFile(dir.File("plant.tagwell-db"), c.text);
    EXPECT_TRUE(IsConnectionFile(dir.File("plant.tagwell-db")));
    ServerDatabase d;
    std::string reason;
    const bool read = ReadConnectionFile(dir.File("plant.tagwell-db"), &d, &reason);
    EXPECT_EQ(read, c.reason == nullptr) << reason;
    if (c.reason) {
      EXPECT_THAT(reason, HasSubstr(c.reason));
    }
    EXPECT_THAT(reason, Not(HasSubstr("s3cret")));
  }
  ServerDatabase d;
  std::string reason;
  WriteFile(dir.File("plant.tagwell-db"), cases[0].text);
  ASSERT_TRUE(ReadConnectionFile(dir.File("plant.tagwell-db"), &d, &reason));
  EXPECT_EQ(d.Describe(), "u@db1:5433/rec");
  EXPECT_EQ(d.password, "s3cret");
  EXPECT_THAT(d.ConnectionString(), Not(HasSubstr("s3cret")));
  // A SQLite database and a plain text file are no connection files.
  ASSERT_TRUE(testing::MakeOpcValuesDatabase(dir.File("plant.db")));
  EXPECT_FALSE(IsConnectionFile(dir.File("plant.db")));
  WriteFile(dir.File("notes.txt"), "host=db1\n");
  EXPECT_FALSE(IsConnectionFile(dir.File("notes.txt")));
}

class ServerDatabaseTest : public testing::PgDatabaseTest {
 protected:
  ServerDatabaseTest() : PgDatabaseTest("rec") {}
  void SetUp() override {
    PgDatabaseTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    file_ = cluster_->ConnectionFile(dir_.path(), name_);
    fake_.client.state.databasePath = file_;
    fake_.client.state.databaseWriting = 1;
    CurrentReading& r = fake_.client.reading;
    r.itemName = "Line1.Flow";
    r.qualityText = "Good";
    r.hour = 14, r.minute = 5, r.second = 59, r.day = 29, r.month = 2, r.year = 2024;
    r.valueType = 5;
    r.doubleValue = 2.5;
    r.doubleTypeName = "double";
  }
  std::string Log() const { return ReadFile(dir_.File("Logfile.txt")); }

  testing::TempDir dir_;
  testing::FakeClient fake_{dir_.path()};
  std::string file_;
};

TEST_F(ServerDatabaseTest, CheckConnectsAndFindsTheTableWithoutShowingThePassword) {
  std::string reason;
  EXPECT_TRUE(CheckRecordingDatabase(file_, &reason)) << reason;

  ASSERT_TRUE(cluster_->MakeDatabase(name_ + "bare", /*schema=*/false));
  EXPECT_FALSE(
      CheckRecordingDatabase(cluster_->ConnectionFile(dir_.path(), name_ + "bare"), &reason));
  EXPECT_EQ(reason, "it has no table OPCvalues.");

  Sql("ALTER TABLE OPCvalues DROP COLUMN Quality");
  EXPECT_FALSE(CheckRecordingDatabase(file_, &reason));
  EXPECT_EQ(reason, "its table OPCvalues has no column Quality.");

  WriteFile(dir_.File(name_ + ".pass"), "wrong-Password-1\n");
  EXPECT_FALSE(CheckRecordingDatabase(file_, &reason));
  EXPECT_THAT(reason, HasSubstr("cannot be reached"));
  EXPECT_THAT(reason, HasSubstr("postgres@127.0.0.1:"));
  EXPECT_THAT(reason, Not(HasSubstr("wrong-Password-1")));
}

TEST_F(ServerDatabaseTest, RowsHoldTheColumnsOfTheSqliteWriterAndTwoWritersNumberOnce) {
  for (int i = 0; i < 2; ++i) EXPECT_EQ(WriteDatabase(fake_.client), 0);
  EXPECT_EQ(Sql("SELECT Number, Name, Type, Hours, Minutes, Seconds, Day, Month, Year, Value, "
                "Quality FROM OPCvalues ORDER BY Number"),
            "1|Line1.Flow|double|14|5|59|29|2|2024|2.5|Good\n"
            "2|Line1.Flow|double|14|5|59|29|2|2024|2.5|Good\n");

  // Two writers of their own connections, interleaved: every number once.
  ServerDatabase database;
  std::string error;
  ASSERT_TRUE(ReadConnectionFile(file_, &database, &error));
  ServerRecorder a(file_, database), b(file_, database);
  for (int round = 0; round < 5; ++round) {
    for (ServerRecorder* writer : {&a, &b}) {
      std::vector<QVariantList> rows(
          3, QVariantList{0, "X", "long", 1, 2, 3, 4, 5, 2026, "7", "Good"});
      bool fenced = true;
      ASSERT_TRUE(writer->Store(rows, "", &fenced, &error)) << error;
      EXPECT_FALSE(fenced);
    }
  }
  EXPECT_EQ(Sql("SELECT count(*), count(DISTINCT Number), max(Number) FROM OPCvalues"),
            "32|32|32\n");
  EXPECT_EQ(Sql("SELECT Rows FROM OPCvaluesRowCount"), "32\n");
  // Without the counter the table is locked and counted.
  Sql("DROP TRIGGER opcvalues_rowcount_insert ON OPCvalues; DELETE FROM OPCvalues WHERE Number > "
      "30");
  ServerRecorder bare(file_, database);
  std::vector<QVariantList> rows(2, QVariantList{0, "Y", "long", 1, 2, 3, 4, 5, 2026, "8", "Good"});
  bool fenced = false;
  ASSERT_TRUE(bare.Store(rows, "", &fenced, &error)) << error;
  EXPECT_EQ(Sql("SELECT Number FROM OPCvalues WHERE Name = 'Y' ORDER BY Number"), "31\n32\n");
  EXPECT_EQ(Log(), "");
}

TEST_F(ServerDatabaseTest, RowsGoInOnlyUnderTheWritersOwnLiveLease) {
  ServerDatabase database;
  std::string error;
  ASSERT_TRUE(ReadConnectionFile(file_, &database, &error));
  ServerRecorder writer(file_, database);
  std::vector<QVariantList> rows(1, QVariantList{0, "Z", "long", 1, 2, 3, 4, 5, 2026, "9", "Good"});
  const std::string lease = "(extract(epoch from clock_timestamp()) * 1000)::bigint";
  struct Case {
    std::string update;
    bool stored;
  } cases[] = {
      {"Active = 1, Holder = 'me', LeaseUntil = " + lease + " + 60000", true},
      {"Active = 1, Holder = 'other', LeaseUntil = " + lease + " + 60000", false},
      {"Active = 1, Holder = 'me', LeaseUntil = " + lease + " - 1", false},
      {"Active = 0, Holder = 'me', LeaseUntil = " + lease + " + 60000", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.update);
    Sql("UPDATE TagwellRole SET " + c.update);
    bool fenced = false;
    EXPECT_EQ(writer.Store(rows, "me", &fenced, &error), c.stored) << error;
    EXPECT_EQ(fenced, !c.stored);
  }
  EXPECT_EQ(Sql("SELECT count(*) FROM OPCvalues"), "1\n");
}

// Rows the lease check turns away are no outage, but the log counts them.
TEST_F(ServerDatabaseTest, RowsTurnedAwayByTheLeaseAreCountedInOneLine) {
  fake_.client.dbWriter.roleHolder = "me";  // holds no lease
  fake_.client.flushDatabase = &FlushDatabase;
  {
    RecordingBatch tick(fake_.client);
    for (int i = 0; i < 3; ++i) WriteDatabase(fake_.client);
  }
  EXPECT_EQ(Sql("SELECT count(*) FROM OPCvalues"), "0\n");
  EXPECT_EQ(Log(),
            "WriteDatabase: 3 rows not stored: this client no longer holds the active role (the "
            "active client records the readings)\n");
}

TEST_F(ServerDatabaseTest, AnOutageIsOneLogEntryAndRecordingResumes) {
  EXPECT_EQ(WriteDatabase(fake_.client), 0);
  ASSERT_TRUE(cluster_->Stop()) << cluster_->error();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(WriteDatabase(fake_.client), 0);
  ASSERT_TRUE(cluster_->Start()) << cluster_->error();
  const std::string during = Log();
  EXPECT_THAT(during, HasSubstr("*** WriteDatabase error:"));
  EXPECT_THAT(during, Not(HasSubstr(PgCluster::Password())));
  // The first attempt after the server is back waits out the pause after a
  // failed connection; the row then goes in and the log says so.
  for (int i = 0; i < 400 && Sql("SELECT count(*) FROM OPCvalues") != "2\n"; ++i)
    WriteDatabase(fake_.client);
  EXPECT_EQ(Sql("SELECT count(*) FROM OPCvalues"), "2\n");
  const std::string log = Log();
  EXPECT_EQ(log.find("*** WriteDatabase error:"), log.rfind("*** WriteDatabase error:"));
  EXPECT_GT(log.size(), during.size());
}

// A statement that never gets its answer (here it waits for a lock; on a
// plant network, for a link that carries nothing) ends at once when the
// server connections are cut from another thread, and the connection is
// given up.
TEST_F(ServerDatabaseTest, ACutEndsAStatementThatWaitsForGood) {
  ServerDatabase database;
  std::string reason;
  ASSERT_TRUE(ReadConnectionFile(file_, &database, &reason)) << reason;
  std::shared_ptr<ado::Connection> connection = OpenServerDatabase(database, &reason);
  ASSERT_TRUE(connection) << reason;
  Sql("CREATE TABLE held (x int)");
  std::thread holder(  // its psql is cancelled at the end
      [&] { cluster_->Sql(name_, "BEGIN; LOCK TABLE held; SELECT pg_sleep(20); COMMIT"); });
  for (int i = 0; i < 200 && Sql("SELECT count(*) FROM pg_locks WHERE mode = "
                                 "'AccessExclusiveLock' AND relation = 'held'::regclass") != "1\n";
       ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  std::atomic<bool> ended{false};
  std::thread cutter([&] {
    while (!ended) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      ado::InterruptServerConnections();
    }
  });
  QSqlQuery query(connection->Database());
  EXPECT_FALSE(query.exec("SELECT count(*) FROM held"));
  EXPECT_TRUE(ServerConnectionLost(*connection))
      << "ended by " << query.lastError().text().toStdString();
  ended = true;
  cutter.join();
  Sql("SELECT pg_cancel_backend(pid) FROM pg_stat_activity WHERE query LIKE '%pg_sleep(20)%' "
      "AND pid <> pg_backend_pid()");
  holder.join();
}

}  // namespace
}  // namespace tagwell
