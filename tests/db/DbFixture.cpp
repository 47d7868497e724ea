#include "tests/db/DbFixture.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>
#include <cstdio>

namespace tagwell::testing {
namespace {

// sqlite3 path < script, without a shell.
bool RunSqlite3(const std::string& path, const char* script) {
  int in = ::open(script, O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(in, 0);
    ::execlp("sqlite3", "sqlite3", "-bail", path.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(in);
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::vector<std::string> gWarnings;
QtMessageHandler gPrevious = nullptr;

void Collect(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type != QtDebugMsg && type != QtInfoMsg) gWarnings.push_back(message.toStdString());
}

}  // namespace

QtWarnings::QtWarnings() {
  gWarnings.clear();
  gPrevious = qInstallMessageHandler(Collect);
}

QtWarnings::~QtWarnings() {
  qInstallMessageHandler(gPrevious);
}

std::vector<std::string> QtWarnings::messages() const {
  return gWarnings;
}

bool MakeOpcValuesDatabase(const std::string& path, bool withCounter) {
  if (!RunSqlite3(path, TAGWELL_OPCVALUES_SQL)) {
    std::fprintf(stderr, "sqlite3 could not run %s\n", TAGWELL_OPCVALUES_SQL);
    return false;
  }
  if (withCounter) return true;
  SqlPeek db(path);
  return db.Exec("DROP TRIGGER OPCvaluesRowCountInsert") &&
         db.Exec("DROP TRIGGER OPCvaluesRowCountDelete") && db.Exec("DROP TABLE OPCvaluesRowCount");
}

SqlPeek::SqlPeek(const std::string& path) {
  static int next = 0;
  name_ = QString("tagwell.test.peek.%1").arg(++next);
  QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", name_);
  db.setDatabaseName(QString::fromStdString(path));
  if (!db.open()) std::fprintf(stderr, "cannot open %s\n", path.c_str());
}

SqlPeek::~SqlPeek() {
  {
    QSqlDatabase db = QSqlDatabase::database(name_, false);
    db.close();
  }
  QSqlDatabase::removeDatabase(name_);
}

bool SqlPeek::Exec(const QString& statement) {
  QSqlQuery query(QSqlDatabase::database(name_, false));
  if (query.exec(statement)) return true;
  std::fprintf(stderr, "%s: %s\n", qPrintable(statement), qPrintable(query.lastError().text()));
  return false;
}

std::vector<std::vector<std::string>> SqlPeek::Rows(const QString& statement) {
  std::vector<std::vector<std::string>> rows;
  QSqlQuery query(QSqlDatabase::database(name_, false));
  if (!query.exec(statement)) {
    std::fprintf(stderr, "%s: %s\n", qPrintable(statement), qPrintable(query.lastError().text()));
    return rows;
  }
  while (query.next()) {
    std::vector<std::string>& row = rows.emplace_back();
    for (int i = 0; i < query.record().count(); ++i)
      row.push_back(query.value(i).toString().toStdString());
  }
  return rows;
}

std::string SqlPeek::Scalar(const QString& statement) {
  auto rows = Rows(statement);
  return rows.empty() || rows[0].empty() ? std::string() : rows[0][0];
}

bool SqlPeek::AddRows(long count) {
  return Exec(
      QString("INSERT INTO OPCvalues (Number, Name, Type, Hours, Minutes, Seconds, Day, "
              "Month, Year, Value, Quality) "
              "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < %1) "
              "SELECT x % 32768, 'Bulk.Item', 'double', 12, 0, 0, 1, 1, 2024, '1.5', 'Good' "
              "FROM n")
          .arg(count));
}

}  // namespace tagwell::testing
