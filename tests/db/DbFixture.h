// Databases for the db tests and benchmarks: made from db/OPCvalues.sql with
// the sqlite3 program, filled in bulk, read back and locked through QtSql
// connections of their own.
#pragma once

#include <QSqlDatabase>
#include <QString>
#include <string>
#include <vector>

namespace tagwell::testing {

// Collects Qt's warnings (a connection removed while still in use, a driver
// not loaded...) while it lives; the db tests expect none.
class QtWarnings final {
 public:
  QtWarnings();
  ~QtWarnings();
  QtWarnings(const QtWarnings&) = delete;
  QtWarnings& operator=(const QtWarnings&) = delete;
  std::vector<std::string> messages() const;
};

// Runs OPCvalues.sql on path (creating the file) as `sqlite3 path <
// OPCvalues.sql` does. withCounter false removes the row counter and its
// triggers again, leaving the bare table. False when sqlite3 failed.
bool MakeOpcValuesDatabase(const std::string& path, bool withCounter = true);

// One QtSql connection to a database file, removed on destruction.
class SqlPeek final {
 public:
  explicit SqlPeek(const std::string& path);
  ~SqlPeek();
  SqlPeek(const SqlPeek&) = delete;
  SqlPeek& operator=(const SqlPeek&) = delete;

  // Runs statement; false (and the error on stderr) when it fails.
  bool Exec(const QString& statement);
  // Every row of a query, each field as the text sqlite3 prints ("" for NULL).
  std::vector<std::vector<std::string>> Rows(const QString& query);
  // The first field of the first row ("" when there is none).
  std::string Scalar(const QString& query);
  // Appends count rows to OPCvalues in one statement.
  bool AddRows(long count);

 private:
  QString name_;
};

}  // namespace tagwell::testing
