// Recording into a server database (PostgreSQL) named by a connection
// file: the rows of OPCvalues go in over one connection that stays open
// between calls, every call one transaction.
#pragma once

#include <QVariantList>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "db/ServerDatabase.h"
#include "opc/ClientState.h"

namespace tagwell {

class ServerRecorder final {
 public:
  ServerRecorder(std::string path, ServerDatabase database)
      : path_(std::move(path)), database_(std::move(database)) {}
  ServerRecorder(const ServerRecorder&) = delete;
  ServerRecorder& operator=(const ServerRecorder&) = delete;

  // Stores rows (the eleven values of OPCvalues each; the first, Number, is
  // set here) in one transaction. Number is the row count with the row, low
  // 16 bits, signed, kept right under several writers: the row counter of
  // OPCvalues-postgresql.sql is locked for the transaction, or without it
  // the table is locked and counted. When fenceHolder is not empty the rows
  // are stored only while that client holds a live lease in TagwellRole;
  // else nothing is stored and *fenced is true. False, with the reason in
  // *error, when the rows could not be stored: the connection is dropped and
  // made again on a later call, not sooner than a second after a failed
  // attempt to connect. A connection the server ended since the last call
  // (it restarted, say) is made again at once and the rows tried once on
  // the new one.
  bool Store(std::vector<QVariantList>& rows, const std::string& fenceHolder, bool* fenced,
             std::string* error);

  const std::string& path() const { return path_; }

 private:
  bool Connect(std::string* error);
  bool Transaction(std::vector<QVariantList>& rows, const std::string& fenceHolder, bool* fenced);
  bool Fail(std::string* error);

  std::string path_;
  ServerDatabase database_;
  std::shared_ptr<ado::Connection> connection_;
  bool counter_ = false;  // the row counter and its triggers are present
  bool commitSent_ = false;  // the transaction's outcome is the server's now
  std::chrono::steady_clock::time_point retryAt_{};
};

// The recorder for the database the client records into when that is a
// connection file (made when the file was chosen, kept while it stays
// chosen), or null for a database file.
ServerRecorder* ServerRecorderFor(Client& client);

}  // namespace tagwell
