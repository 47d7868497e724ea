#include "db/ServerDatabase.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlQuery>
#include <map>

#include "db/ConnectionString.h"

namespace tagwell {
namespace {

constexpr qint64 kLargestConnectionFile = 64 * 1024;
constexpr int kConnectTimeoutSeconds = 3;

// The server ends a transaction left idle this long (a client stopped in
// the middle of one), so that its locks do not hold the other client.
constexpr int kIdleTransactionMs = 2000;

QString QText(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string Trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return std::string(text.substr(first, last - first + 1));
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// The key = value lines of an INI text (keys in lower case); section
// headers, blank lines and comments (# or ;) are passed over.
std::map<std::string, std::string> IniValues(const QByteArray& text) {
  std::map<std::string, std::string> values;
  for (const QByteArray& raw : text.split('\n')) {
    const std::string line = Trimmed(std::string_view(raw.constData(), raw.size()));
    if (line.empty() || line[0] == '#' || line[0] == ';' || line[0] == '[') continue;
    const auto equals = line.find('=');
    if (equals == std::string::npos) continue;
    std::string value = Trimmed(std::string_view(line).substr(equals + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    values[Lower(Trimmed(std::string_view(line).substr(0, equals)))] = value;
  }
  return values;
}

bool ReadSmallFile(const QString& path, QByteArray* text) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly) || file.size() > kLargestConnectionFile) return false;
  *text = file.readAll();
  return true;
}

bool KnownDriver(const std::string& driver) {
  const std::string d = Lower(driver);
  return d == "postgresql" || d == "postgres" || d == "psql" || d == "qpsql";
}

bool ReadPasswordFile(const QString& path, std::string* password, std::string* reason) {
  const std::string shown = path.toStdString();
  struct stat info {};
  if (::stat(path.toLocal8Bit().constData(), &info) != 0 || !S_ISREG(info.st_mode)) {
    *reason = "its password file " + shown + " does not exist.";
    return false;
  }
  if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    *reason = "its password file " + shown +
              " may be read by others: it must be readable by its owner only (chmod 600).";
    return false;
  }
  QByteArray text;
  if (!ReadSmallFile(path, &text)) {
    *reason = "its password file " + shown + " cannot be read.";
    return false;
  }
  const qsizetype end = text.indexOf('\n');
  *password = Trimmed(std::string_view(text.constData(), end < 0 ? text.size() : end));
  if (password->empty()) {
    *reason = "its password file " + shown + " is empty.";
    return false;
  }
  return true;
}

bool ParsePort(const std::string& text, int* port) {
  if (text.empty() || text.size() > 5) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > 65535) return false;
  *port = value;
  return true;
}

}  // namespace

std::string ServerDatabase::ConnectionString() const {
  return "Provider=PostgreSQL;Host=" + ConnectionStringValue(host) +
         ";Port=" + std::to_string(port) + ";Database=" + ConnectionStringValue(database) +
         ";Connect Timeout=" + std::to_string(kConnectTimeoutSeconds);
}

std::string ServerDatabase::Describe() const {
  return (user.empty() ? std::string() : user + "@") + host + ":" + std::to_string(port) + "/" +
         database;
}

bool IsConnectionFile(std::string_view path) {
  const QFileInfo info(QText(path));
  if (!info.isFile() || info.size() > kLargestConnectionFile) return false;
  QFile file(info.filePath());
  if (!file.open(QIODevice::ReadOnly) || file.peek(16).startsWith("SQLite format 3")) return false;
  return IniValues(file.readAll()).count("driver") == 1;
}

bool ReadConnectionFile(std::string_view path, ServerDatabase* database, std::string* reason) {
  const QFileInfo info(QText(path));
  QByteArray text;
  if (!info.isFile() || !ReadSmallFile(info.filePath(), &text)) {
    *reason = "the connection file cannot be read.";
    return false;
  }
  std::map<std::string, std::string> values = IniValues(text);
  auto value = [&](const char* key) {
    auto found = values.find(key);
    return found == values.end() ? std::string() : found->second;
  };
  ServerDatabase d;
  d.driver = value("driver");
  if (!KnownDriver(d.driver)) {
    *reason = "the connection file names the driver \"" + d.driver +
              "\"; this client knows the driver postgresql.";
    return false;
  }
  if (!value("host").empty()) d.host = value("host");
  if (values.count("port") && !ParsePort(value("port"), &d.port)) {
    *reason = "the port \"" + value("port") +
              "\" of the connection file is not a number from 1 to 65535.";
    return false;
  }
  d.database = value("database");
  if (d.database.empty()) {
    *reason = "the connection file names no database.";
    return false;
  }
  d.user = value("user");
  std::string passwordFile = value("password_file");
  if (passwordFile.empty()) passwordFile = value("passwordfile");
  if (!passwordFile.empty()) {
    const QString file = QFileInfo(info.dir(), QText(passwordFile)).filePath();
    if (!ReadPasswordFile(file, &d.password, reason)) return false;
  } else {
    d.password = value("password");
  }
  *database = std::move(d);
  return true;
}

bool ServerConnectionLost(ado::Connection& connection) {
  QSqlDatabase db = connection.Database();
  if (!db.isOpen()) return true;
  QSqlQuery query(db);
  query.exec("ROLLBACK");
  return !query.exec("SELECT 1");
}

std::shared_ptr<ado::Connection> OpenServerDatabase(const ServerDatabase& database,
                                                    std::string* reason) {
  auto connection = std::make_shared<ado::Connection>();
  if (connection->Open(database.ConnectionString(), database.user, database.password) !=
      com::S_OK) {
    *reason = connection->LastError().description.value_or("no reason given");
    return nullptr;
  }
  QSqlQuery settings(connection->Database());
  settings.exec(QString("SET idle_in_transaction_session_timeout = %1").arg(kIdleTransactionMs));
  return connection;
}

}  // namespace tagwell
