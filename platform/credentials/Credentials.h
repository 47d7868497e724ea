// The accounts with which this computer logs on to DCOM servers on other
// computers (NTLM: a user, a domain and a password per computer), and where
// the remembered ones are kept.
//
// Nothing here ever writes a password to a log, a message or Config.ini;
// Describe() is the only text about credentials meant for those.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace tagwell::credentials {

struct Credentials {
  std::string user;
  std::string domain;    // may be empty: the server's own accounts
  std::string password;  // secret

  // "DOMAIN\user" or "user": what a log line may say.
  std::string Describe() const;
};

// Remembered credentials, by computer (com::CredentialKey). Implementations:
// the desktop's keyring (app/) and a file readable by its owner only.
// Called on the window's thread.
class CredentialStore {
 public:
  virtual ~CredentialStore() = default;
  // What is remembered for computer, if anything. A store that cannot be
  // read answers nothing (and says why in *error when given).
  virtual std::optional<Credentials> Find(const std::string& computer, std::string* error) = 0;
  // Remembers (replaces) the credentials of computer. False with the
  // reason in *error when they could not be kept.
  virtual bool Remember(const std::string& computer, const Credentials& credentials,
                        std::string* error) = 0;
  virtual void Forget(const std::string& computer) = 0;
  // "the keyring", "the file PATH": for the log and the operator.
  virtual std::string Where() const = 0;
};

// Lines "computer<TAB>user<TAB>domain<TAB>password", each field with '%',
// tab and line ends escaped as %XX. The file is created with mode 0600 (its
// folder 0700) and rewritten atomically; a file that others may read or
// write is refused (not read, not written) with the reason.
class FileCredentialStore final : public CredentialStore {
 public:
  explicit FileCredentialStore(std::string path) : path_(std::move(path)) {}
  // $XDG_CONFIG_HOME/tagwell/credentials (~/.config/... by default).
  static std::string DefaultPath();

  std::optional<Credentials> Find(const std::string& computer, std::string* error) override;
  bool Remember(const std::string& computer, const Credentials& credentials,
                std::string* error) override;
  void Forget(const std::string& computer) override;
  std::string Where() const override { return "the file " + path_; }

 private:
  std::string path_;
};

// The credentials in use in this process, by computer: what the operator
// typed for this session, or what a store remembers. The DCOM activator
// reads it on any thread (a reconnection probes off the window's thread);
// the window's thread fills it.
class CredentialBook final {
 public:
  // store may be null (nothing is remembered); it must outlive the book.
  explicit CredentialBook(CredentialStore* store) : store_(store) {}

  // The session's credentials of computer, else the store's (which then
  // join the session). Window thread (a keyring is read through it).
  std::optional<Credentials> Get(const std::string& computer);
  // The session's credentials of computer only. Any thread.
  std::optional<Credentials> InSession(const std::string& computer);
  // Uses credentials for computer from now on, in this session only.
  void Use(const std::string& computer, const Credentials& credentials);
  // Keeps them in the store too. False with the reason when not kept.
  bool Remember(const std::string& computer, const Credentials& credentials, std::string* error);
  // Drops the session's entry (the store keeps what it has).
  void Drop(const std::string& computer);
  CredentialStore* store() const { return store_; }

 private:
  std::mutex mutex_;
  CredentialStore* store_;
  std::map<std::string, Credentials> session_;
};

}  // namespace tagwell::credentials
