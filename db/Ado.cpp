#include "db/Ado.h"

#include <dlfcn.h>
#include <sys/socket.h>

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <set>

#include "db/ConnectionString.h"

namespace tagwell::ado {
namespace {

constexpr char kConnectionSource[] = "AdoDatabase";
constexpr char kRecordsetSource[] = "AdoTable";

std::string Text(const QString& text) {
  return text.toUtf8().toStdString();
}
QString QText(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A provider of the connection string: which QtSql driver serves it and how
// the attributes configure that driver. Another provider (a server database)
// is one more entry.
struct Provider {
  const char* name;
  const char* driver;
  bool (*configure)(QSqlDatabase& db, const ConnectionAttributes& attributes, std::string* reason);
  // A statement that fails unless the connection reaches a real database.
  const char* probe;
};

bool BusyTimeout(const ConnectionAttributes& attributes, int* timeout, std::string* reason) {
  *timeout = kDefaultBusyTimeoutMs;
  if (!attributes.Has("busy timeout")) return true;
  const std::string text = attributes.Get("busy timeout");
  char* end = nullptr;
  long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < 0 || value > 600000) {
    *reason = "Busy Timeout must be a number of milliseconds from 0 to 600000";
    return false;
  }
  *timeout = static_cast<int>(value);
  return true;
}

bool ConfigureSqlite(QSqlDatabase& db, const ConnectionAttributes& attributes,
                     std::string* reason) {
  const std::string path = attributes.Get("data source");
  if (path.empty()) {
    *reason = "the connection string names no Data Source";
    return false;
  }
  int timeout = 0;
  if (!BusyTimeout(attributes, &timeout, reason)) return false;
  db.setConnectOptions(QString("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(timeout));
  db.setDatabaseName(QText(SqliteOpenUri(path)));
  return true;
}

// Host, Port, Database and Connect Timeout (seconds) of a PostgreSQL
// server; user and password come as the arguments of Open.
bool ConfigurePostgres(QSqlDatabase& db, const ConnectionAttributes& attributes,
                       std::string* reason) {
  const std::string database = attributes.Get("database");
  if (database.empty()) {
    *reason = "the connection string names no Database";
    return false;
  }
  const std::string host = attributes.Get("host");
  db.setHostName(QText(host.empty() ? std::string("localhost") : host));
  if (attributes.Has("port")) {
    bool ok = false;
    const int port = QText(attributes.Get("port")).toInt(&ok);
    if (!ok || port < 1 || port > 65535) {
      *reason = "Port must be a number from 1 to 65535";
      return false;
    }
    db.setPort(port);
  }
  int timeout = 5;
  if (attributes.Has("connect timeout")) {
    bool ok = false;
    timeout = QText(attributes.Get("connect timeout")).toInt(&ok);
    if (!ok || timeout < 1 || timeout > 600) {
      *reason = "Connect Timeout must be a number of seconds from 1 to 600";
      return false;
    }
  }
  // Every wait on the server is bounded: the connection attempt, a link
  // that stops carrying (keepalives, and unacknowledged data given up after
  // 15 s) and a statement that the server does not finish.
  db.setConnectOptions(QString("connect_timeout=%1;keepalives=1;keepalives_idle=5;"
                               "keepalives_interval=2;keepalives_count=3;tcp_user_timeout=15000;"
                               "options='-c statement_timeout=15000'")
                           .arg(timeout));
  db.setDatabaseName(QText(database));
  return true;
}

constexpr Provider kProviders[] = {
    {"SQLite", "QSQLITE", ConfigureSqlite, "SELECT count(*) FROM sqlite_master"},
    {"PostgreSQL", "QPSQL", ConfigurePostgres, "SELECT 1"},
};

const Provider* FindProvider(std::string_view name) {
  for (const Provider& p : kProviders)
    if (QText(name).compare(QLatin1String(p.name), Qt::CaseInsensitive) == 0) return &p;
  return nullptr;
}

QString NewConnectionName() {
  static std::atomic<unsigned long> next{0};
  return QString("tagwell.ado.%1").arg(++next);
}

QString QuotedIdentifier(std::string_view name) {
  QString quoted = QText(name);
  quoted.replace('"', "\"\"");
  return '"' + quoted + '"';
}

// The sockets of the open server connections, so that a thread that waits
// too long for one can cut it (a server or link that swallows packets
// would hold the waiting call for good).
struct ServerSockets {
  std::mutex mutex;
  std::set<int> sockets;
};

ServerSockets& Sockets() {
  static ServerSockets* sockets = new ServerSockets;  // threads may use it after main
  return *sockets;
}

// The socket of a QPSQL connection: libpq's PQsocket of its handle, found
// in the libpq the driver loaded (the client does not link it itself).
int ServerSocketOf(const QSqlDatabase& db) {
  if (!db.driver()) return -1;
  const QVariant handle = db.driver()->handle();
  // The driver hands out libpq's PGconn*, whose type is named after the
  // struct behind the typedef ("pg_conn*").
  const QByteArray type(handle.isValid() ? handle.typeName() : "");
  if (!type.contains("PGconn") && !type.contains("pg_conn")) return -1;
  void* conn = *static_cast<void* const*>(handle.constData());
  void* libpq = ::dlopen("libpq.so.5", RTLD_LAZY | RTLD_NOLOAD);
  if (!conn || !libpq) return -1;
  using SocketOf = int (*)(const void*);
  auto socketOf = reinterpret_cast<SocketOf>(::dlsym(libpq, "PQsocket"));
  const int fd = socketOf ? socketOf(conn) : -1;
  ::dlclose(libpq);
  return fd;
}

}  // namespace

void InterruptServerConnections() {
  ServerSockets& s = Sockets();
  std::lock_guard lock(s.mutex);
  for (int fd : s.sockets) ::shutdown(fd, SHUT_RDWR);
}

ComError SqlComError(const QSqlError& error, std::string_view driverName) {
  ComError e;
  bool numeric = false;
  const int native = error.nativeErrorCode().toInt(&numeric);
  // Only SQLite's codes are numbers of their own; PostgreSQL's are SQLSTATEs.
  e.code = numeric && driverName != "QPSQL" ? SqliteHresult(native) : com::E_FAIL;
  e.meaning = Text(error.driverText());
  e.source = std::string(driverName);
  if (!error.databaseText().isEmpty()) e.description = Text(error.databaseText());
  return e;
}

// --- Connection --------------------------------------------------------------

Connection::Connection() : name_(NewConnectionName()) {}

Connection::~Connection() {
  Release();
}

void Connection::Release() {
  if (!open_) return;
  if (socket_ >= 0) {
    std::lock_guard lock(Sockets().mutex);
    Sockets().sockets.erase(socket_);
    socket_ = -1;
  }
  {
    QSqlDatabase db = QSqlDatabase::database(name_, false);
    db.close();
  }
  QSqlDatabase::removeDatabase(name_);
  sqliteFile_.clear();
  open_ = false;
}

com::HRESULT Connection::Fail(const QSqlError& error) {
  lastError_ = SqlComError(error, driver_);
  return lastError_.code;
}

com::HRESULT Connection::Fail(com::HRESULT code, std::string description) {
  lastError_ = ComError{code, {}, kConnectionSource, std::move(description)};
  return code;
}

com::HRESULT Connection::Open(std::string_view connectionString, std::string_view userId,
                              std::string_view password) {
  if (open_) return Fail(adErrObjectOpen, "Operation is not allowed when the object is open.");
  ConnectionAttributes attributes;
  std::string reason;
  if (!ParseConnectionString(connectionString, &attributes, &reason))
    return Fail(adErrInvalidArgument, "Connection string: " + reason + ".");
  const Provider* provider = FindProvider(attributes.Get("provider"));
  if (!provider)
    return Fail(adErrProviderNotFound,
                "Provider cannot be found: \"" + attributes.Get("provider") +
                    "\". This client knows the providers SQLite and PostgreSQL.");
  driver_ = provider->driver;
  com::HRESULT hr = com::S_OK;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QString::fromLatin1(provider->driver), name_);
    if (!db.isValid()) {
      hr = Fail(db.lastError());
    } else if (!provider->configure(db, attributes, &reason)) {
      hr = Fail(adErrInvalidArgument, "Connection string: " + reason + ".");
    } else if (!db.open(QText(userId), QText(password))) {
      hr = Fail(db.lastError());
    } else {
      QSqlQuery probe(db);
      if (!probe.exec(QString::fromLatin1(provider->probe))) hr = Fail(probe.lastError());
    }
    if (hr != com::S_OK) db.close();
  }
  if (hr != com::S_OK) {
    QSqlDatabase::removeDatabase(name_);
    return hr;
  }
  if (driver_ == "QSQLITE") {
    sqliteFile_ = attributes.Get("data source");
    BusyTimeout(attributes, &busyTimeoutMs_, &reason);
  }
  open_ = true;
  if (driver_ == "QPSQL") {
    socket_ = ServerSocketOf(Database());
    std::lock_guard lock(Sockets().mutex);
    if (socket_ >= 0) Sockets().sockets.insert(socket_);
  }
  return com::S_OK;
}

com::HRESULT Connection::Close() {
  if (!open_) return Fail(adErrObjectClosed, "Operation is not allowed when the object is closed.");
  Release();
  return com::S_OK;
}

QSqlDatabase Connection::Database() const {
  return open_ ? QSqlDatabase::database(name_, false) : QSqlDatabase();
}

com::HRESULT Connection::Execute(std::string_view commandText,
                                 std::shared_ptr<Recordset>* records) {
  if (!open_) return Fail(adErrObjectClosed, "Operation is not allowed when the object is closed.");
  auto result = std::make_shared<Recordset>();
  {
    QSqlQuery query(Database());
    query.setForwardOnly(true);
    if (!query.exec(QText(commandText))) return Fail(query.lastError());
    if (records && query.isSelect()) {
      if (result->Load(query, weak_from_this().lock()) != com::S_OK) {
        lastError_ = result->LastError();
        return lastError_.code;
      }
    }
  }
  if (records) *records = std::move(result);
  return com::S_OK;
}

// --- Recordset ---------------------------------------------------------------

com::HRESULT Recordset::Fail(com::HRESULT code, std::string description) {
  lastError_ = ComError{code, {}, kRecordsetSource, std::move(description)};
  return code;
}

bool Recordset::IsOpen() const {
  return open_ && (!connection_ || connection_->IsOpen());
}

bool Recordset::CheckOpen() {
  if (IsOpen()) return true;
  Fail(adErrObjectClosed, "Operation is not allowed when the object is closed.");
  return false;
}

com::HRESULT Recordset::Open(std::string_view source,
                             const std::shared_ptr<Connection>& activeConnection,
                             int /*cursorType*/, int /*lockType*/, int options) {
  if (IsOpen()) return Fail(adErrObjectOpen, "Operation is not allowed when the object is open.");
  if (!activeConnection || !activeConnection->IsOpen())
    return Fail(adErrInvalidConnection,
                "The connection cannot be used to perform this operation. It is either closed "
                "or invalid in this context.");
  const bool table = options == adCmdTable || options == adCmdTableDirect;
  const QString statement = table ? "SELECT * FROM " + QuotedIdentifier(source) : QText(source);
  QSqlQuery query(activeConnection->Database());
  query.setForwardOnly(true);
  if (!query.exec(statement)) {
    lastError_ = SqlComError(query.lastError(), activeConnection->DriverName());
    return lastError_.code;
  }
  if (!query.isSelect()) return com::S_OK;  // a statement without rows leaves it closed
  return Load(query, activeConnection);
}

com::HRESULT Recordset::Load(QSqlQuery& query, std::shared_ptr<Connection> connection) {
  const QSqlRecord record = query.record();
  names_.clear();
  cells_.clear();
  for (int i = 0; i < record.count(); ++i) names_.push_back(record.fieldName(i));
  long rows = 0;
  while (query.next()) {
    for (int i = 0; i < record.count(); ++i) cells_.push_back(query.value(i));
    ++rows;
  }
  if (query.lastError().isValid()) {
    lastError_ = SqlComError(query.lastError(), connection ? connection->DriverName() : "");
    cells_.clear();
    return lastError_.code;
  }
  connection_ = std::move(connection);
  rowCount_ = rows;
  position_ = 0;
  open_ = true;
  return com::S_OK;
}

com::HRESULT Recordset::Close() {
  if (!CheckOpen()) return lastError_.code;
  open_ = false;
  names_.clear();
  cells_.clear();
  rowCount_ = 0;
  connection_.reset();
  return com::S_OK;
}

com::HRESULT Recordset::GetEOF(com::VARIANT_BOOL* eof) {
  if (!CheckOpen()) return lastError_.code;
  *eof = position_ >= rowCount_ ? com::VARIANT_TRUE : com::VARIANT_FALSE;
  return com::S_OK;
}

com::HRESULT Recordset::Moved(long position) {
  position_ = position;
  return com::S_OK;
}

namespace {
constexpr char kNoCurrentRecord[] =
    "Either BOF or EOF is True, or the current record has been deleted. Requested operation "
    "requires a current record.";
}

com::HRESULT Recordset::MoveNext() {
  if (!CheckOpen()) return lastError_.code;
  if (position_ >= rowCount_) return Fail(adErrNoCurrentRecord, kNoCurrentRecord);
  return Moved(position_ + 1);
}

com::HRESULT Recordset::MovePrevious() {
  if (!CheckOpen()) return lastError_.code;
  if (position_ < 0) return Fail(adErrNoCurrentRecord, kNoCurrentRecord);
  return Moved(position_ - 1);
}

com::HRESULT Recordset::MoveFirst() {
  if (!CheckOpen()) return lastError_.code;
  if (rowCount_ == 0) return Fail(adErrNoCurrentRecord, kNoCurrentRecord);
  return Moved(0);
}

com::HRESULT Recordset::MoveLast() {
  if (!CheckOpen()) return lastError_.code;
  if (rowCount_ == 0) return Fail(adErrNoCurrentRecord, kNoCurrentRecord);
  return Moved(rowCount_ - 1);
}

com::HRESULT Recordset::GetValue(std::string_view fieldName, QVariant* value) {
  if (!CheckOpen()) return lastError_.code;
  const QString name = QText(fieldName);
  std::size_t column = 0;
  while (column < names_.size() && names_[column].compare(name, Qt::CaseInsensitive) != 0) ++column;
  if (column == names_.size())
    return Fail(adErrItemNotFound,
                "Item cannot be found in the collection corresponding to the requested name or "
                "ordinal.");
  if (position_ < 0 || position_ >= rowCount_) return Fail(adErrNoCurrentRecord, kNoCurrentRecord);
  *value = cells_[static_cast<std::size_t>(position_) * names_.size() + column];
  return com::S_OK;
}

}  // namespace tagwell::ado
