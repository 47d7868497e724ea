#include "session/ServerRoleStore.h"

#include <QSqlError>
#include <QSqlQuery>

#include "db/Ado.h"

namespace tagwell {
namespace {

constexpr auto kRetryDelay = std::chrono::seconds(1);

// The table as OPCvalues-postgresql.sql makes it, for a database made
// without it.
constexpr char kCreateTable[] =
    "CREATE TABLE IF NOT EXISTS TagwellRole (Id INTEGER PRIMARY KEY CHECK (Id = 1), "
    "Active INTEGER NOT NULL DEFAULT 0, Number INTEGER NOT NULL DEFAULT 0, "
    "Holder TEXT NOT NULL DEFAULT '', Host TEXT NOT NULL DEFAULT '', "
    "ActiveCycle BIGINT NOT NULL DEFAULT 0, LeaseUntil BIGINT NOT NULL DEFAULT 0, "
    "Released TEXT NOT NULL DEFAULT '')";
constexpr char kCreateRow[] = "INSERT INTO TagwellRole (Id) VALUES (1) ON CONFLICT (Id) DO NOTHING";

QString Text(const std::string& text) {
  return QString::fromStdString(text);
}

std::string HostOf(const std::string& holder) {
  return holder.substr(0, holder.find(':'));
}

}  // namespace

bool ServerRoleStore::Connect() {
  if (connection_) return true;
  const auto now = std::chrono::steady_clock::now();
  if (now < retryAt_) return false;
  std::string reason;
  connection_ = OpenServerDatabase(database_, &reason);
  if (!connection_) {
    // The pause counts from the end of the attempt.
    retryAt_ = std::chrono::steady_clock::now() + kRetryDelay;
    return false;
  }
  QSqlQuery query(connection_->Database());
  if (!query.exec("SELECT to_regclass('tagwellrole') IS NOT NULL") || !query.next() ||
      (!query.value(0).toBool() && !query.exec(kCreateTable)) || !query.exec(kCreateRow)) {
    connection_.reset();
    retryAt_ = std::chrono::steady_clock::now() + kRetryDelay;
    return false;
  }
  return true;
}

// *asked: the record was handed to change (a step is repeated only before).
bool ServerRoleStore::Step(const std::function<bool(RoleRecord&, long long)>& change, bool* asked) {
  QSqlQuery query(connection_->Database());
  if (!query.exec("BEGIN")) return false;
  if (!query.exec(QString("SELECT Active, Number, Holder, ActiveCycle, LeaseUntil, Released, %1 "
                          "FROM TagwellRole WHERE Id = 1 FOR UPDATE")
                      .arg(kServerNowMs)) ||
      !query.next())
    return false;
  RoleRecord record;
  record.active = query.value(0).toInt();
  record.number = query.value(1).toInt();
  record.holder = query.value(2).toString().toStdString();
  record.cycleMs = query.value(3).toLongLong();
  record.leaseUntil = query.value(4).toLongLong();
  record.released = query.value(5).toString().toStdString();
  const long long now = query.value(6).toLongLong();
  *asked = true;
  if (change(record, now)) {
    query.prepare(
        "UPDATE TagwellRole SET Active = ?, Number = ?, Holder = ?, Host = ?, ActiveCycle = ?, "
        "LeaseUntil = ?, Released = ? WHERE Id = 1");
    query.addBindValue(record.active);
    query.addBindValue(record.number);
    query.addBindValue(Text(record.holder));
    query.addBindValue(Text(HostOf(record.holder)));
    query.addBindValue(static_cast<qlonglong>(record.cycleMs));
    query.addBindValue(static_cast<qlonglong>(record.leaseUntil));
    query.addBindValue(Text(record.released));
    if (!query.exec()) return false;
  }
  return query.exec("COMMIT");
}

void ServerRoleStore::Drop() {
  if (connection_->Database().isOpen()) QSqlQuery(connection_->Database()).exec("ROLLBACK");
  connection_->Close();
  connection_.reset();
}

bool ServerRoleStore::Update(const std::function<bool(RoleRecord&, long long)>& change) {
  if (!Connect()) return false;
  bool asked = false;
  if (Step(change, &asked)) return true;
  if (!asked && ServerConnectionLost(*connection_)) {
    Drop();
    if (!Connect()) return false;
    if (Step(change, &asked)) return true;
  }
  Drop();
  return false;
}

RoleStore& ChosenRoleStore::Current() {
  const ClientState& s = client_.state;
  const std::string path = s.databaseWriting == 1 ? std::string(s.databasePath.view()) : "";
  if (path != serverPath_) {
    serverPath_ = path;
    // Its connection goes on the thread it was used on.
    if (server_) RunDatabaseWork(client_, [&] { server_.reset(); });
    unreadable_ = false;
    ServerDatabase database;
    std::string reason;
    if (!path.empty() && IsConnectionFile(path)) {
      // A connection file that can no longer be read leaves the role with
      // nobody rather than in a Config.ini the other computer cannot see.
      unreadable_ = !ReadConnectionFile(path, &database, &reason);
      if (!unreadable_) server_ = std::make_unique<ServerRoleStore>(std::move(database));
    }
  }
  return server_ ? static_cast<RoleStore&>(*server_) : configIni_;
}

bool ChosenRoleStore::Update(const std::function<bool(RoleRecord&, long long)>& change) {
  RoleStore& store = Current();
  if (unreadable_) return false;
  if (!server_) return store.Update(change);
  // The server's steps run where the recording runs, off the window.
  bool updated = false;
  RunDatabaseWork(
      client_, [&] { updated = store.Update(change); }, &ado::InterruptServerConnections);
  return updated;
}

bool ChosenRoleStore::InServer() {
  Current();
  return server_ != nullptr || unreadable_;
}

}  // namespace tagwell
