// A server database named by a small connection file, the way a file data
// source names one: INI text such as
//
//   [database]
//   driver = postgresql
//   host = db1.plant.local
//   port = 5432
//   database = recording
//   user = tagwell
//   password_file = tagwell.pass     (or: password = ...)
//
// A password file holds the password on its first line and must be
// readable by its owner only (mode 0600). Passwords never appear in a
// reason, a connection string or the log.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "db/Ado.h"

namespace tagwell {

struct ServerDatabase {
  std::string driver;  // "postgresql"
  std::string host = "localhost";
  int port = 5432;
  std::string database;
  std::string user;
  std::string password;
  // The connection string without user and password: "Provider=PostgreSQL;
  // Host=...;Port=...;Database=...".
  std::string ConnectionString() const;
  // "user@host:port/database", for messages and the log.
  std::string Describe() const;
};

// Whether the file at path is a connection file rather than a database
// file: a small text file that names a driver.
bool IsConnectionFile(std::string_view path);

// Reads a connection file. False, with a sentence for the operator in
// *reason, when it cannot be read, names an unknown driver, lacks the
// database, has a port that is no port, or its password file is missing,
// empty or readable by others.
bool ReadConnectionFile(std::string_view path, ServerDatabase* database, std::string* reason);

// Opens a connection to the database of the connection file at path. On
// failure null, with the reason (without any password) in *reason.
std::shared_ptr<ado::Connection> OpenServerDatabase(const ServerDatabase& database,
                                                    std::string* reason);

// After a statement failed on connection: whether the connection is gone
// (the server ended it, as a restart or an administrator does, or the
// network dropped it) rather than the statement refused. What was open is
// rolled back, then the server is asked for a trivial answer.
bool ServerConnectionLost(ado::Connection& connection);

// The time of the database server in ms since 1970, as SQL: the lease of
// the role and the fence of the writer both use the server's clock, so two
// computers need not agree on the time.
inline constexpr char kServerNowMs[] = "(extract(epoch from clock_timestamp()) * 1000)::bigint";

}  // namespace tagwell
