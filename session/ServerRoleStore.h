// The role record in the server database the clients record into, so that
// clients on different computers share it: one row of TagwellRole, read
// and changed in one transaction with the row locked, on the database
// server's clock.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "db/ServerDatabase.h"
#include "session/Roles.h"

namespace tagwell {

class ServerRoleStore final : public RoleStore {
 public:
  explicit ServerRoleStore(ServerDatabase database) : database_(std::move(database)) {}
  // False when the database cannot be reached or the step fails; the
  // connection is then made again on a later step, not sooner than a second
  // after a failed attempt. A connection the server ended since the last
  // step (it restarted, say) is made again at once and the step tried once
  // on the new one.
  bool Update(const std::function<bool(RoleRecord&, long long)>& change) override;

 private:
  bool Connect();
  bool Step(const std::function<bool(RoleRecord&, long long)>& change, bool* asked);
  void Drop();

  ServerDatabase database_;
  std::shared_ptr<ado::Connection> connection_;
  std::chrono::steady_clock::time_point retryAt_{};
};

// The store of this client's role: Config.ini, or the server database
// while one chosen by a connection file is recorded into. The choice
// follows Connect to Database and Disconnect from Database.
class ChosenRoleStore final : public RoleStore {
 public:
  explicit ChosenRoleStore(Client& client) : client_(client), configIni_(client) {}
  bool Update(const std::function<bool(RoleRecord&, long long)>& change) override;
  // Whether the record is in a server database now.
  bool InServer();

 private:
  RoleStore& Current();

  Client& client_;
  ConfigIniRoleStore configIni_;
  std::string serverPath_;
  std::unique_ptr<ServerRoleStore> server_;
  bool unreadable_ = false;
};

}  // namespace tagwell
