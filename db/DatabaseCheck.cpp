#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlRecord>
#include <QStringList>
#include <memory>

#include "db/Ado.h"
#include "db/ConnectionString.h"
#include "db/Database.h"
#include "db/ServerDatabase.h"

namespace tagwell {
namespace {

constexpr const char* kColumns[] = {"Number", "Name",  "Type", "Hours", "Minutes", "Seconds",
                                    "Day",    "Month", "Year", "Value", "Quality"};

// The columns of the eleven that the table lacks, as "A, B".
std::string MissingColumns(const QSqlRecord& table) {
  std::string missing;
  for (const char* column : kColumns) {
    if (table.indexOf(QLatin1String(column)) >= 0) continue;  // names compare without case
    missing += (missing.empty() ? "" : ", ") + std::string(column);
  }
  return missing;
}

bool CheckTable(const QSqlDatabase& db, std::string* reason) {
  QString table;
  for (const QString& name : db.tables())
    if (name.compare(QLatin1String("OPCvalues"), Qt::CaseInsensitive) == 0) table = name;
  if (table.isEmpty()) {
    *reason = "it has no table OPCvalues.";
    return false;
  }
  const std::string missing = MissingColumns(db.record(table));
  if (!missing.empty()) {
    *reason = "its table OPCvalues has no column " + missing + ".";
    return false;
  }
  return true;
}

// A connection file: the server is reached with it and its table looked at.
bool CheckServerDatabase(std::string_view path, std::string* reason) {
  ServerDatabase database;
  if (!ReadConnectionFile(path, &database, reason)) return false;
  std::string why;
  std::shared_ptr<ado::Connection> connection = OpenServerDatabase(database, &why);
  if (!connection) {
    *reason = "the database " + database.Describe() + " cannot be reached (" + why + ").";
    return false;
  }
  const bool usable = CheckTable(connection->Database(), reason);
  connection->Close();
  return usable;
}

}  // namespace

bool CheckRecordingDatabase(std::string_view path, std::string* reason) {
  if (IsConnectionFile(path)) return CheckServerDatabase(path, reason);
  const QFileInfo file(QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size())));
  if (!file.exists()) {
    *reason = "the file does not exist.";
    return false;
  }
  if (file.isDir()) {
    *reason = "it is a folder, not a database file.";
    return false;
  }
  auto connection = std::make_shared<ado::Connection>();
  const std::string connectionString = "Provider=SQLite;Data Source=" + ConnectionStringValue(path);
  if (connection->Open(connectionString, "", "") != com::S_OK) {
    *reason = "it cannot be opened as a database for reading and writing (" +
              connection->LastError().description.value_or("no reason given") + ").";
    return false;
  }
  const bool usable = CheckTable(connection->Database(), reason);
  connection->Close();
  return usable;
}

}  // namespace tagwell
