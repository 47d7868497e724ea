#include "db/ServerRecording.h"

#include <QSqlError>
#include <QSqlQuery>

namespace tagwell {
namespace {

constexpr auto kRetryDelay = std::chrono::seconds(1);

// One statement inserts at most this many rows (PostgreSQL takes at most
// 65535 parameters to a statement).
constexpr std::size_t kRowsPerInsert = 1000;
constexpr int kColumnCount = 11;

constexpr char kCounterPresent[] =
    "SELECT to_regclass('opcvaluesrowcount') IS NOT NULL AND "
    "(SELECT count(*) FROM pg_trigger WHERE tgrelid = to_regclass('opcvalues') AND tgname IN "
    "('opcvalues_rowcount_insert', 'opcvalues_rowcount_delete')) = 2";

QString InsertStatement(std::size_t rows) {
  QString statement =
      "INSERT INTO OPCvalues (Number, Name, Type, Hours, Minutes, Seconds, Day, Month, Year, "
      "Value, Quality) VALUES ";
  for (std::size_t i = 0; i < rows; ++i)
    statement += (i ? "," : "") + QStringLiteral("(?,?,?,?,?,?,?,?,?,?,?)");
  return statement;
}

}  // namespace

bool ServerRecorder::Fail(std::string* error) {
  if (connection_) {
    *error = connection_->LastError().description.value_or("no reason given");
    if (connection_->Database().isOpen()) QSqlQuery(connection_->Database()).exec("ROLLBACK");
    connection_->Close();
    connection_.reset();
  }
  return false;
}

bool ServerRecorder::Connect(std::string* error) {
  if (connection_) return true;
  const auto now = std::chrono::steady_clock::now();
  if (now < retryAt_) {
    *error = "the database " + database_.Describe() + " could not be reached";
    return false;
  }
  connection_ = OpenServerDatabase(database_, error);
  if (!connection_) {
    // The pause counts from the end of the attempt, which may have waited
    // its whole connect timeout.
    retryAt_ = std::chrono::steady_clock::now() + kRetryDelay;
    return false;
  }
  QSqlQuery query(connection_->Database());
  if (!query.exec(kCounterPresent) || !query.next()) {
    connection_->Fail(query.lastError());
    return Fail(error);
  }
  counter_ = query.value(0).toBool();
  return true;
}

bool ServerRecorder::Transaction(std::vector<QVariantList>& rows, const std::string& fenceHolder,
                                 bool* fenced) {
  ado::Connection& c = *connection_;
  commitSent_ = false;
  QSqlQuery query(c.Database());
  auto run = [&](const QString& statement) {
    return query.exec(statement) || (c.Fail(query.lastError()), false);
  };
  if (!run("BEGIN")) return false;
  if (!fenceHolder.empty()) {
    // The lease row is shared-locked until COMMIT: no standby takes the
    // role while these rows go in.
    query.prepare(QString("SELECT 1 FROM TagwellRole WHERE Id = 1 AND Active = 1 AND Holder = ? "
                          "AND LeaseUntil > %1 FOR SHARE")
                      .arg(kServerNowMs));
    query.addBindValue(QString::fromStdString(fenceHolder));
    if (!query.exec()) return c.Fail(query.lastError()), false;
    if (!query.next()) {
      *fenced = true;
      return run("ROLLBACK"), false;
    }
  }
  if (!counter_ && !run("LOCK TABLE OPCvalues IN SHARE ROW EXCLUSIVE MODE")) return false;
  if (!run(counter_ ? "SELECT Rows FROM OPCvaluesRowCount FOR UPDATE"
                    : "SELECT count(*) FROM OPCvalues"))
    return false;
  qlonglong count = query.next() ? query.value(0).toLongLong() : 0;
  for (QVariantList& row : rows)
    if (!row.isEmpty()) row[0] = static_cast<int>(static_cast<std::int16_t>(++count));
  for (std::size_t first = 0; first < rows.size(); first += kRowsPerInsert) {
    const std::size_t n = std::min(kRowsPerInsert, rows.size() - first);
    if (!query.prepare(InsertStatement(n))) return c.Fail(query.lastError()), false;
    for (std::size_t i = first; i < first + n; ++i)
      for (int column = 0; column < kColumnCount; ++column)
        query.addBindValue(column < rows[i].size() ? rows[i][column] : QVariant());
    if (!query.exec()) return c.Fail(query.lastError()), false;
  }
  commitSent_ = true;
  return run("COMMIT");
}

bool ServerRecorder::Store(std::vector<QVariantList>& rows, const std::string& fenceHolder,
                           bool* fenced, std::string* error) {
  *fenced = false;
  if (!Connect(error)) return false;
  if (rows.empty()) return true;
  if (Transaction(rows, fenceHolder, fenced)) return true;
  if (*fenced) return false;
  // Rows whose COMMIT was sent may be stored: they are not sent twice.
  if (!commitSent_ && ServerConnectionLost(*connection_)) {
    connection_->Close();
    connection_.reset();
    if (!Connect(error)) return false;
    if (Transaction(rows, fenceHolder, fenced)) return true;
    if (*fenced) return false;
  }
  return Fail(error);
}

ServerRecorder* ServerRecorderFor(Client& client) {
  const std::string path(client.state.databasePath.view());
  std::shared_ptr<ServerRecorder>& server = client.dbWriter.server;
  if (server && server->path() == path) return server.get();
  server.reset();
  ServerDatabase database;
  std::string reason;
  if (!IsConnectionFile(path) || !ReadConnectionFile(path, &database, &reason)) return nullptr;
  server = std::make_shared<ServerRecorder>(path, std::move(database));
  return server.get();
}

}  // namespace tagwell
