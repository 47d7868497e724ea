// A private PostgreSQL cluster for a test: made with initdb in a temporary
// folder, started with pg_ctl on a free loopback port, stopped and removed
// at the end. Run as the postgres system user when the test runs as root.
// The superuser postgres has a password for connections over TCP.
#pragma once

#include <string>

#include "tests/support/Ports.h"

namespace tagwell::testing {

class PgCluster {
 public:
  // Whether the PostgreSQL server programs are installed; else the reason
  // to skip in *why.
  static bool Available(std::string* why);

  PgCluster();  // made and started; see ok()
  ~PgCluster();
  PgCluster(const PgCluster&) = delete;
  PgCluster& operator=(const PgCluster&) = delete;

  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }
  int port() const { return port_; }
  static const char* Password() { return "tagwell-Secret-7"; }

  // pg_ctl stop (fast) and start, each waiting at most 30 s.
  bool Stop();
  bool Start();

  // Runs SQL with psql as the superuser over the cluster's socket; the
  // output (unaligned, tuples only) in *out.
  bool Sql(const std::string& database, const std::string& sql, std::string* out = nullptr);
  // A new database made with OPCvalues-postgresql.sql (schema false: empty).
  bool MakeDatabase(const std::string& name, bool schema = true);
  // Writes a connection file for database into folder, with the password in
  // a password file of mode 0600 beside it; returns its path.
  std::string ConnectionFile(const std::string& folder, const std::string& database) const;

 private:
  // asServer: as the postgres system user when running as root.
  bool Run(const std::string& command, std::string* out = nullptr, bool asServer = false);

  std::string bin_;
  std::string base_;
  std::string data_;
  int port_ = 0;
  bool ok_ = false;
  std::string error_;
};

}  // namespace tagwell::testing
