#include "app/KeyringStore.h"

#include <qt6keychain/keychain.h>

#include <QEventLoop>
#include <QTimer>

namespace tagwell {
namespace {

const QString kService = QStringLiteral("Tagwell DCOM accounts");
// A keyring that does not answer (a locked wallet nobody unlocks) is
// given up after this long.
constexpr int kJobTimeoutMs = 20000;

QString KeyOf(const std::string& computer) {
  return QString::fromStdString(computer);
}

// Runs job to its end in a nested loop; its error.
QKeychain::Error Run(QKeychain::Job& job, QString* errorText) {
  QEventLoop loop;
  QObject::connect(&job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
  QTimer::singleShot(kJobTimeoutMs, &loop, &QEventLoop::quit);
  job.setAutoDelete(false);
  job.start();
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  if (errorText) *errorText = job.errorString();
  return job.error();
}

bool NoKeyring(QKeychain::Error error) {
  return error == QKeychain::NoBackendAvailable || error == QKeychain::NotImplemented ||
         error == QKeychain::OtherError;
}

// "user\ndomain\npassword": the password last, so that it may hold anything.
QString Pack(const credentials::Credentials& c) {
  return QString::fromStdString(c.user) + '\n' + QString::fromStdString(c.domain) + '\n' +
         QString::fromStdString(c.password);
}

std::optional<credentials::Credentials> Unpack(const QString& text) {
  const int first = text.indexOf('\n');
  const int second = first < 0 ? -1 : text.indexOf('\n', first + 1);
  if (second < 0) return std::nullopt;
  return credentials::Credentials{text.left(first).toStdString(),
                                  text.mid(first + 1, second - first - 1).toStdString(),
                                  text.mid(second + 1).toStdString()};
}

}  // namespace

std::optional<credentials::Credentials> KeyringStore::Find(const std::string& computer,
                                                           std::string* error) {
  if (!noKeyring_) {
    QKeychain::ReadPasswordJob job(kService);
    job.setInsecureFallback(false);
    job.setKey(KeyOf(computer));
    QString text;
    const QKeychain::Error result = Run(job, &text);
    if (result == QKeychain::NoError) return Unpack(job.textData());
    if (!NoKeyring(result)) {
      // The keyring is there and has nothing (or was not opened): the file
      // may still hold an account remembered while there was no keyring.
      return file_.Find(computer, error);
    }
    noKeyring_ = true;
  }
  return file_.Find(computer, error);
}

bool KeyringStore::Remember(const std::string& computer,
                            const credentials::Credentials& credentials, std::string* error) {
  if (!noKeyring_) {
    QKeychain::WritePasswordJob job(kService);
    job.setInsecureFallback(false);
    job.setKey(KeyOf(computer));
    job.setTextData(Pack(credentials));
    QString text;
    const QKeychain::Error result = Run(job, &text);
    if (result == QKeychain::NoError) {
      file_.Forget(computer);
      return true;
    }
    if (!NoKeyring(result)) {
      if (error) *error = "the keyring refused: " + text.toStdString();
      return false;
    }
    noKeyring_ = true;
  }
  return file_.Remember(computer, credentials, error);
}

void KeyringStore::Forget(const std::string& computer) {
  if (!noKeyring_) {
    QKeychain::DeletePasswordJob job(kService);
    job.setInsecureFallback(false);
    job.setKey(KeyOf(computer));
    Run(job, nullptr);
  }
  file_.Forget(computer);
}

std::string KeyringStore::Where() const {
  return noKeyring_ ? file_.Where() : "the desktop's keyring";
}

}  // namespace tagwell
