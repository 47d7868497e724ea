// The store behind AdoDatabase and AdoTable: a connection and a static
// recordset over QtSql, shaped like ADO's Connection and Recordset. Each
// operation returns an HRESULT; after a failure the object's LastError()
// describes it (the error-information object of COM).
//
// Objects are used on the thread that created them. A Connection owns one
// QtSql connection under a name of its own, removed when the Connection is
// closed or destroyed; no QSqlDatabase or QSqlQuery made from it may outlive
// that.
#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QVariant>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/ComError.h"

class QSqlError;
class QSqlQuery;

namespace tagwell::ado {

// CursorTypeEnum, LockTypeEnum and CommandTypeEnum values that are accepted.
// Every cursor is static here: a recordset holds its rows.
inline constexpr int adOpenForwardOnly = 0;
inline constexpr int adOpenStatic = 3;
inline constexpr int adLockReadOnly = 1;
inline constexpr int adLockOptimistic = 3;
inline constexpr int adCmdText = 1;
inline constexpr int adCmdTable = 2;
inline constexpr int adCmdUnknown = 8;
inline constexpr int adCmdTableDirect = 512;

class Recordset;

// Made with std::make_shared: the recordsets it returns keep it alive.
// Cuts every open server (PostgreSQL) connection: a statement that waits on
// one of them fails at once, and the connection is given up. Any thread;
// for a thread that waited too long on another thread's statement.
void InterruptServerConnections();

class Connection final : public std::enable_shared_from_this<Connection> {
 public:
  Connection();
  // Ends the connection if it is still open.
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Opens the database that connectionString names:
  //   Provider=SQLite;Data Source=PATH[;Busy Timeout=MS]
  // The file must exist (it is never created) and be a SQLite database.
  // SQLite has no users: userId and password are accepted and unused.
  com::HRESULT Open(std::string_view connectionString, std::string_view userId,
                    std::string_view password);
  com::HRESULT Close();
  bool IsOpen() const { return open_; }

  // Runs one statement. When records is not null it receives the result: a
  // recordset holding the rows, or a closed recordset for a statement that
  // returns none.
  com::HRESULT Execute(std::string_view commandText, std::shared_ptr<Recordset>* records);

  // The QtSql connection, for statements of the store's own code. Only while
  // open; drop the copy and every query made on it before Close.
  QSqlDatabase Database() const;
  const std::string& DriverName() const { return driver_; }
  // The database file and busy timeout of an open SQLite connection, for
  // code that reads the same file through SQLite's own library; empty for
  // other providers.
  const std::string& SqliteFile() const { return sqliteFile_; }
  int BusyTimeoutMs() const { return busyTimeoutMs_; }

  const ComError& LastError() const { return lastError_; }
  // Records a failure of a statement run on Database().
  com::HRESULT Fail(const QSqlError& error);
  com::HRESULT Fail(com::HRESULT code, std::string description);

 private:
  void Release();

  QString name_;
  std::string driver_;
  std::string sqliteFile_;
  int busyTimeoutMs_ = 0;
  bool open_ = false;
  int socket_ = -1;  // of a server connection, while open
  ComError lastError_;
};

// A static cursor: Open runs the query and keeps every row in the object.
// Position: -1 is BOF, RowCount() is EOF. The recordset keeps its
// connection alive and counts as closed once that connection closes.
class Recordset final {
 public:
  Recordset() = default;
  Recordset(const Recordset&) = delete;
  Recordset& operator=(const Recordset&) = delete;

  // options: adCmdTable or adCmdTableDirect take source as a table name,
  // anything else as a statement. cursorType and lockType are accepted as
  // given; rows are always held in the object.
  com::HRESULT Open(std::string_view source, const std::shared_ptr<Connection>& activeConnection,
                    int cursorType, int lockType, int options);
  // Takes the rows of a query that has been executed on connection.
  com::HRESULT Load(QSqlQuery& query, std::shared_ptr<Connection> connection);
  com::HRESULT Close();
  bool IsOpen() const;

  com::HRESULT GetEOF(com::VARIANT_BOOL* eof);
  com::HRESULT MoveNext();
  com::HRESULT MovePrevious();
  com::HRESULT MoveFirst();
  com::HRESULT MoveLast();
  // The value of the named field (any case) of the current row; a null
  // QVariant for SQL NULL.
  com::HRESULT GetValue(std::string_view fieldName, QVariant* value);
  long RowCount() const { return rowCount_; }

  const ComError& LastError() const { return lastError_; }

 private:
  com::HRESULT Fail(com::HRESULT code, std::string description);
  com::HRESULT Moved(long position);
  bool CheckOpen();

  std::shared_ptr<Connection> connection_;
  bool open_ = false;
  std::vector<QString> names_;
  std::vector<QVariant> cells_;  // row by row
  long rowCount_ = 0;
  long position_ = 0;
  ComError lastError_;
};

// The COM error of a QtSql error (the mapping is described in ComError.h).
ComError SqlComError(const QSqlError& error, std::string_view driverName);

}  // namespace tagwell::ado
