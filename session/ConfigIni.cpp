#include "session/ConfigIni.h"

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "platform/profile/Profile.h"

namespace tagwell {
namespace {

int AtoiClamped(const char* text) {
  long value = std::strtol(text, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

}  // namespace

std::string ConfigIniPath(const Client& client) {
  return client.FilePath(kConfigFileName);
}

int ReadClientsKey(const Client& client, const char* key) {
  char szTemporary[kConfigValueSize];
  profile::GetPrivateProfileString(kClientsSection, key, "0", szTemporary, sizeof szTemporary,
                                   ConfigIniPath(client));
  return AtoiClamped(szTemporary);
}

bool WriteClientsKey(const Client& client, const char* key, int value) {
  char szValue[16];
  std::snprintf(szValue, sizeof szValue, "%d", value);
  return profile::WritePrivateProfileString(kClientsSection, key, szValue, ConfigIniPath(client));
}

bool EnsureConfigFile(const Client& client) {
  return profile::EnsureFileExists(ConfigIniPath(client));
}

void ShowRole(Client& client, const char* text) {
  if (client.ui.roleBox) SetOneLineBox(*client.ui.roleBox, text);
}

}  // namespace tagwell
