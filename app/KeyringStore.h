// Remembered DCOM accounts in the desktop's keyring (Secret Service or
// KWallet, through qtkeychain), and in a file readable by its owner only
// on computers without a keyring. Window thread only: a keyring job runs
// in a short nested event loop.
#pragma once

#include <string>

#include "platform/credentials/Credentials.h"

namespace tagwell {

class KeyringStore final : public credentials::CredentialStore {
 public:
  // file: where accounts go when no keyring answers.
  explicit KeyringStore(std::string filePath = credentials::FileCredentialStore::DefaultPath())
      : file_(std::move(filePath)) {}

  std::optional<credentials::Credentials> Find(const std::string& computer,
                                               std::string* error) override;
  bool Remember(const std::string& computer, const credentials::Credentials& credentials,
                std::string* error) override;
  void Forget(const std::string& computer) override;
  std::string Where() const override;

 private:
  credentials::FileCredentialStore file_;
  // Set once a keyring job said there is no keyring on this desktop.
  bool noKeyring_ = false;
};

}  // namespace tagwell
