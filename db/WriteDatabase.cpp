#include <QSqlError>
#include <QSqlQuery>
#include <optional>
#include <vector>

#include "db/AdoDatabase.h"
#include "db/ConnectionString.h"
#include "db/Database.h"
#include "db/ServerRecording.h"
#include "db/ValueText.h"
#include "opc/Log.h"
#include "platform/com/Runtime.h"

namespace tagwell {
namespace {

constexpr char kConnectionPrefix[] = "Provider=SQLite;Data Source=";

constexpr char kEmptyStringMessage[] =
    "WriteDatabase error: empty string can not be written in database.\nFor item name - see "
    "error message in Logfile.";
constexpr char kEmptyStringCaption[] = "WriteDatabase function";

// A database made from OPCvalues.sql keeps the row count of OPCvalues in
// OPCvaluesRowCount, maintained by two triggers, so the running number costs
// the same whatever the table's size. Without them the table is counted.
constexpr char kCounterPresent[] =
    "SELECT count(*) FROM sqlite_master WHERE "
    "(type = 'table' AND name = 'OPCvaluesRowCount' COLLATE NOCASE) OR "
    "(type = 'trigger' AND tbl_name = 'OPCvalues' COLLATE NOCASE AND "
    "name IN ('OPCvaluesRowCountInsert', 'OPCvaluesRowCountDelete'))";
constexpr char kCounterRows[] = "SELECT Rows FROM OPCvaluesRowCount";
constexpr char kCountRows[] = "SELECT count(*) FROM OPCvalues";

constexpr char kInsert[] =
    "INSERT INTO OPCvalues (Number, Name, Type, Hours, Minutes, Seconds, Day, Month, Year, "
    "Value, Quality) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";

QString FromAnsi(const char* text) {
  return text ? QString::fromStdU16String(com::Utf8ToUtf16(text)) : QString();
}

// One transaction of rows on an open connection. The write lock is taken
// when it begins (so the count stays exact while rows are added), waiting at
// most the connection's busy timeout. Each row is stored under a savepoint:
// a row that fails is dropped alone and the next row takes its number, as
// it would have one reading later. Some failures (a full disk, an I/O
// error, a trigger's RAISE(ROLLBACK)) end the whole transaction instead:
// then the transaction is broken, every row of it is lost, and no later
// row is stored (a savepoint would open a transaction of its own, outside
// the lock). Nothing is kept unless Commit succeeds.
class RowTransaction final {
 public:
  explicit RowTransaction(ado::Connection& connection)
      : connection_(connection), db_(connection.Database()) {}
  ~RowTransaction() { Drop(); }
  RowTransaction(const RowTransaction&) = delete;
  RowTransaction& operator=(const RowTransaction&) = delete;

  // Takes the write lock and reads the row count.
  bool Begin(qlonglong* rows) {
    if (!Run("BEGIN IMMEDIATE")) return false;
    begun_ = true;
    return CountRows(rows);
  }

  bool Store(const QVariantList& values) {
    if (broken_) return false;
    if (!insert_) {
      insert_.emplace(db_);
      if (!insert_->prepare(kInsert)) return Failed(*insert_);
    }
    if (!Run("SAVEPOINT reading")) return Broken();
    for (int i = 0; i < values.size(); ++i) insert_->bindValue(i, values[i]);
    if (insert_->exec()) {
      if (Run("RELEASE reading")) return true;
    } else {
      Failed(*insert_);
    }
    // The savepoint is there as long as the transaction is: undoing the row
    // also tells whether the failure ended the transaction.
    if (!QSqlQuery(db_).exec("ROLLBACK TO reading") || !QSqlQuery(db_).exec("RELEASE reading"))
      return Broken();
    return false;
  }

  bool Commit() {
    insert_.reset();
    if (broken_ || !Run("COMMIT")) return false;
    begun_ = false;
    return true;
  }

  // Whether a failure ended the transaction, and with it every row stored
  // in it so far.
  bool broken() const { return broken_; }

  // Gives the rows up and releases the lock.
  void Drop() {
    insert_.reset();
    if (begun_) QSqlQuery(db_).exec("ROLLBACK");  // keeps the error that led here
    begun_ = false;
  }

 private:
  bool Broken() {
    broken_ = true;
    return false;
  }

  bool Failed(const QSqlQuery& query) {
    connection_.Fail(query.lastError());
    return false;
  }

  bool Run(const char* statement) {
    QSqlQuery query(db_);
    return query.exec(statement) || Failed(query);
  }

  bool Scalar(const char* statement, qlonglong* value, bool* found) {
    QSqlQuery query(db_);
    query.setForwardOnly(true);
    if (!query.exec(statement)) return Failed(query);
    *found = query.next() && !query.value(0).isNull();
    if (*found) *value = query.value(0).toLongLong();
    if (*found && query.next()) *found = false;  // a counter must be one row
    return !query.lastError().isValid() || Failed(query);
  }

  bool CountRows(qlonglong* rows) {
    qlonglong parts = 0;
    bool found = false;
    if (!Scalar(kCounterPresent, &parts, &found)) return false;
    if (found && parts == 3) {
      if (!Scalar(kCounterRows, rows, &found)) return false;
      if (found) return true;
    }
    if (!Scalar(kCountRows, rows, &found)) return false;
    return found;
  }

  ado::Connection& connection_;
  QSqlDatabase db_;
  std::optional<QSqlQuery> insert_;
  bool begun_ = false;
  bool broken_ = false;
};

PendingRow RowOf(const CurrentReading& r) {
  PendingRow row;
  row.name = r.itemName ? r.itemName : "";
  const char* type = ReadingTypeWord(r);
  row.type = type ? type : "";
  row.value = ReadingValueText(r);
  row.quality = r.qualityText ? r.qualityText : "";
  row.hour = r.hour;
  row.minute = r.minute;
  row.second = r.second;
  row.day = r.day;
  row.month = r.month;
  row.year = r.year;
  return row;
}

QVariantList RowValues(const PendingRow& row, qlonglong number) {
  auto word = [](com::WORD w) { return QVariant(static_cast<int>(static_cast<std::int16_t>(w))); };
  return {QVariant(static_cast<int>(static_cast<std::int16_t>(number))),
          FromAnsi(row.name.c_str()),
          FromAnsi(row.type.c_str()),
          word(row.hour),
          word(row.minute),
          word(row.second),
          word(row.day),
          word(row.month),
          word(row.year),
          QString::fromStdString(row.value),
          FromAnsi(row.quality.c_str())};
}

bool IsEmptyString(const CurrentReading& r) {
  return r.valueType == 6 && (!r.stringValue || r.stringValue[0] == u'\0');
}

int RefuseEmptyString(Client& client) {
  if (++client.dbWriter.emptyStringWarnings == 1 && client.ui.messageBox)
    client.ui.messageBox->Show(kEmptyStringMessage, kEmptyStringCaption, ui::Icon::Warning,
                               ui::Owner::None);
  LogEmptyStringRefused(client);
  return 1;
}

// A failed write is logged when it begins an outage; an unattended recorder
// would otherwise fill the log with one entry per row until someone comes.
void ReportOutage(Client& client, std::string_view errorText) {
  if (client.dbWriter.outage) return;
  client.dbWriter.outage = true;
  LogWriteDatabaseError(client, errorText);
}

void ReportStored(Client& client) {
  if (!client.dbWriter.outage) return;
  client.dbWriter.outage = false;
  LogWriteDatabaseRestored(client);
}

void ReportStoreFailure(Client& client, ado::Connection& connection) {
  ErrorText text;
  FormatComError(connection.LastError(), text);
  ReportOutage(client, text.view());
}

// Appends rows in one transaction on an open connection. A row that cannot
// be stored is dropped alone; a transaction that cannot begin or commit
// drops them all (another program holding the write lock past the busy
// timeout costs one wait). Either is reported as an outage.
void AppendRows(Client& client, ado::Connection& connection, const std::vector<PendingRow>& rows) {
  RowTransaction transaction(connection);
  qlonglong count = 0;
  if (!transaction.Begin(&count)) {
    ReportStoreFailure(client, connection);
    return;
  }
  bool allStored = true;
  for (const PendingRow& row : rows) {
    if (transaction.broken()) break;
    if (transaction.Store(RowValues(row, count + 1)))
      ++count;
    else
      allStored = false;
  }
  if (!transaction.Commit()) allStored = false;
  if (!allStored)
    ReportStoreFailure(client, connection);
  else
    ReportStored(client);
}

// Appends rows to a server database in one transaction (the server numbers
// them). Rows refused by the fence (the role went to another client) are
// not an outage: that client records them. They are counted in the log.
void AppendServerRows(Client& client, ServerRecorder& server, const std::vector<PendingRow>& rows) {
  std::vector<QVariantList> values;
  values.reserve(rows.size());
  for (const PendingRow& row : rows) values.push_back(RowValues(row, 0));
  std::string error;
  bool fenced = false;
  if (server.Store(values, client.dbWriter.roleHolder, &fenced, &error)) {
    ReportStored(client);
  } else if (fenced) {
    client.dbWriter.fencedRows += static_cast<long>(rows.size());
    LogRowsFenced(client, static_cast<long>(rows.size()));
  } else {
    ReportOutage(client, error);
  }
}

// Opens the database at databasePath once for rows. Recording stays on when
// it cannot be opened (the file removed, say): the next rows try again.
void StoreRowsHere(Client& client, const std::vector<PendingRow>& rows) {
  if (ServerRecorder* server = ServerRecorderFor(client)) {
    AppendServerRows(client, *server, rows);
    return;
  }

  const com::HRESULT hrInit = com::CoInitialize(nullptr);
  client.dbWriter.connectionString =
      kConnectionPrefix + ConnectionStringValue(client.state.databasePath.view());
  {
    AdoDatabase databaseInstance;
    if (databaseInstance.Open(client.dbWriter.connectionString, "", "")) {
      AppendRows(client, *databaseInstance.ptrConnection, rows);
      databaseInstance.Close();
    } else {
      ReportOutage(client, databaseInstance.errorText.view());
    }
  }
  if (com::SUCCEEDED(hrInit)) com::CoUninitialize();
}

// On the client's database thread: a server that stops answering is cut
// off after a while, the rows are dropped as in any outage (never stored
// twice), and the next tick connects again.
void StoreRows(Client& client, const std::vector<PendingRow>& rows) {
  if (rows.empty()) return;
  RunDatabaseWork(
      client, [&] { StoreRowsHere(client, rows); }, &ado::InterruptServerConnections);
}

}  // namespace

int WriteDatabase(Client& client) {
  if (IsEmptyString(client.reading)) return RefuseEmptyString(client);
  PendingRow row = RowOf(client.reading);
  if (client.dbWriter.batching) {
    client.dbWriter.batch.push_back(std::move(row));
    return 0;
  }
  StoreRows(client, {row});
  return 0;
}

void FlushDatabase(Client& client) {
  std::vector<PendingRow> rows;
  rows.swap(client.dbWriter.batch);
  StoreRows(client, rows);
}

}  // namespace tagwell
