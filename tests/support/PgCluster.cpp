#include "tests/support/PgCluster.h"

#include <glob.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace tagwell::testing {
namespace {

constexpr char kSchema[] = TAGWELL_SOURCE_DIR "/db/OPCvalues-postgresql.sql";

std::string NewestBin() {
  glob_t found{};
  std::string bin;
  if (::glob("/usr/lib/postgresql/*/bin/initdb", 0, nullptr, &found) == 0 && found.gl_pathc > 0)
    bin = std::filesystem::path(found.gl_pathv[found.gl_pathc - 1]).parent_path().string();
  ::globfree(&found);
  return bin;
}

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

bool PgCluster::Available(std::string* why) {
  if (!NewestBin().empty()) return true;
  *why =
      "PostgreSQL server programs are not installed (/usr/lib/postgresql/*/bin/initdb); "
      "scripts/deps installs them";
  return false;
}

bool PgCluster::Run(const std::string& command, std::string* out, bool asServer) {
  const std::string asUser = asServer && ::getuid() == 0 ? "runuser -u postgres -- " : "";
  FILE* pipe = ::popen((asUser + command + " 2>&1").c_str(), "r");
  if (!pipe) return false;
  std::string text;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe)) text += buffer;
  const int status = ::pclose(pipe);
  if (out) *out = text;
  if (status != 0) error_ = command + ": " + text;
  return status == 0;
}

PgCluster::PgCluster() : bin_(NewestBin()) {
  char folder[] = "/tmp/tagwell-pg-XXXXXX";
  if (bin_.empty() || !::mkdtemp(folder)) {
    error_ = "no PostgreSQL programs or no temporary folder";
    return;
  }
  base_ = folder;
  data_ = base_ + "/data";
  const std::string pwfile = base_ + "/pw";
  { std::ofstream(pwfile) << Password() << "\n"; }
  if (::getuid() == 0) {
    const passwd* postgres = ::getpwnam("postgres");
    if (!postgres || ::chown(folder, postgres->pw_uid, postgres->pw_gid) != 0 ||
        ::chown(pwfile.c_str(), postgres->pw_uid, postgres->pw_gid) != 0) {
      error_ = "the folder cannot be given to the postgres user";
      return;
    }
  }
  port_ = FreeLoopbackPort();
  ok_ = Run(bin_ + "/initdb -A trust --auth-host=scram-sha-256 -U postgres --pwfile=" + pwfile +
                " -E UTF8 --locale=C.UTF-8 -D " + data_ + " -N",
            nullptr, true) &&
        Start();
}

PgCluster::~PgCluster() {
  if (!base_.empty() && std::filesystem::exists(data_ + "/postmaster.pid"))
    Run(bin_ + "/pg_ctl stop -m immediate -t 30 -D " + data_, nullptr, true);
  std::error_code ignored;
  if (!base_.empty()) std::filesystem::remove_all(base_, ignored);
}

bool PgCluster::Start() {
  const std::string options = "-p " + std::to_string(port_) + " -k " + base_ +
                              " -c listen_addresses=127.0.0.1 -c fsync=off";
  return Run(
      bin_ + "/pg_ctl start -w -t 30 -D " + data_ + " -l " + base_ + "/log -o " + Quoted(options),
      nullptr, true);
}

bool PgCluster::Stop() {
  return Run(bin_ + "/pg_ctl stop -w -m fast -t 30 -D " + data_, nullptr, true);
}

bool PgCluster::Sql(const std::string& database, const std::string& sql, std::string* out) {
  return Run(bin_ + "/psql -X -q -A -t -v ON_ERROR_STOP=1 -h " + base_ + " -p " +
                 std::to_string(port_) + " -U postgres -d " + database + " -c " + Quoted(sql),
             out);
}

bool PgCluster::MakeDatabase(const std::string& name, bool schema) {
  if (!Sql("postgres", "CREATE DATABASE " + name)) return false;
  if (!schema) return true;
  return Run(bin_ + "/psql -X -q -v ON_ERROR_STOP=1 -h " + base_ + " -p " + std::to_string(port_) +
             " -U postgres -d " + name + " -f " + kSchema);
}

std::string PgCluster::ConnectionFile(const std::string& folder,
                                      const std::string& database) const {
  const std::string passwordFile = folder + "/" + database + ".pass";
  { std::ofstream(passwordFile) << Password() << "\n"; }
  ::chmod(passwordFile.c_str(), 0600);
  const std::string path = folder + "/" + database + ".tagwell-db";
  std::ofstream(path) << "[database]\ndriver = postgresql\nhost = 127.0.0.1\nport = " << port_
                      << "\ndatabase = " << database
                      << "\nuser = postgres\npassword_file = " << database << ".pass\n";
  return path;
}

}  // namespace tagwell::testing
