#include <QSqlError>
#include <QSqlQuery>

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

// One pending row of OPCvalues on an open connection. The write lock is
// taken when the row is begun (so the count stays exact while it is
// pending), waiting at most the connection's busy timeout; the row is
// dropped unless Store succeeds.
class PendingRow final {
 public:
  explicit PendingRow(ado::Connection& connection)
      : connection_(connection), db_(connection.Database()) {}
  ~PendingRow() { Drop(); }
  PendingRow(const PendingRow&) = delete;
  PendingRow& operator=(const PendingRow&) = delete;

  // Takes the write lock and reads the row count including the new row.
  bool Begin(qlonglong* number) {
    if (!Run("BEGIN IMMEDIATE")) return false;
    begun_ = true;
    qlonglong rows = 0;
    if (!CountRows(&rows)) return false;
    *number = rows + 1;
    return true;
  }

  bool Store(const QVariantList& values) {
    QSqlQuery insert(db_);
    if (!insert.prepare(kInsert)) return Failed(insert);
    for (const QVariant& value : values) insert.addBindValue(value);
    if (!insert.exec()) return Failed(insert);
    if (!Run("COMMIT")) return false;
    begun_ = false;
    return true;
  }

  // Gives the row up and releases the lock.
  void Drop() {
    if (begun_) QSqlQuery(db_).exec("ROLLBACK");  // keeps the error that led here
    begun_ = false;
  }

 private:
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
  bool begun_ = false;
};

QVariantList RowValues(const CurrentReading& r, qlonglong number) {
  auto word = [](com::WORD w) { return QVariant(static_cast<int>(static_cast<std::int16_t>(w))); };
  return {QVariant(static_cast<int>(static_cast<std::int16_t>(number))),
          FromAnsi(r.itemName),
          FromAnsi(ReadingTypeWord(r)),
          word(r.hour),
          word(r.minute),
          word(r.second),
          word(r.day),
          word(r.month),
          word(r.year),
          QString::fromStdString(ReadingValueText(r)),
          FromAnsi(r.qualityText)};
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

// Appends the reading to a server database. Rows refused by the fence (the
// role went to another client) are not an outage: that client records them.
int AppendServerReading(Client& client, ServerRecorder& server) {
  if (IsEmptyString(client.reading)) return RefuseEmptyString(client);
  std::vector<QVariantList> rows{RowValues(client.reading, 0)};
  std::string error;
  bool fenced = false;
  if (server.Store(rows, client.dbWriter.roleHolder, &fenced, &error))
    ReportStored(client);
  else if (fenced)
    ++client.dbWriter.fencedRows;
  else
    ReportOutage(client, error);
  return 0;
}

// Appends the reading on an open connection. A store failure drops the row
// and is reported as an outage; recording goes on with the next reading.
int AppendReading(Client& client, ado::Connection& connection) {
  qlonglong number = 0;
  bool refused = false;
  bool stored = false;
  {
    PendingRow row(connection);
    if (row.Begin(&number)) {
      refused = IsEmptyString(client.reading);
      // The lock is released before the warning box, which waits for the
      // operator while other writers may need the database.
      if (refused)
        row.Drop();
      else
        stored = row.Store(RowValues(client.reading, number));
    }
  }
  if (refused) return RefuseEmptyString(client);
  if (!stored) {
    ErrorText text;
    FormatComError(connection.LastError(), text);
    ReportOutage(client, text.view());
  } else {
    ReportStored(client);
  }
  return 0;
}

}  // namespace

int WriteDatabase(Client& client) {
  if (ServerRecorder* server = ServerRecorderFor(client))
    return AppendServerReading(client, *server);
  const com::HRESULT hrInit = com::CoInitialize(nullptr);
  client.dbWriter.connectionString =
      kConnectionPrefix + ConnectionStringValue(client.state.databasePath.view());
  int result = 0;
  {
    AdoDatabase databaseInstance;
    // Recording stays on when the database cannot be opened (the file
    // removed, say): the next reading tries again.
    if (databaseInstance.Open(client.dbWriter.connectionString, "", "")) {
      result = AppendReading(client, *databaseInstance.ptrConnection);
      databaseInstance.Close();
    } else {
      ReportOutage(client, databaseInstance.errorText.view());
    }
  }
  if (com::SUCCEEDED(hrInit)) com::CoUninitialize();
  return result;
}

}  // namespace tagwell
