#include "app/ConfigIni.h"

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

void SwitchMonitorOn(Client& client, int active, int number) {
  ClientState& s = client.state;
  if (active == 1 && number == 0) {
    s.isActive = 0;
    ShowRole(client, kRoleStandBy);
    WriteClientsKey(client, kNumberKey, 1);
  } else if (active == 0 && number == 0) {
    s.isActive = 1;
    ShowRole(client, kRoleActive);
    WriteClientsKey(client, kActiveKey, 1);
  } else if (active == 1 && number == 1) {
    s.isActive = 0;
    ShowRole(client, kRoleStandBy);
  }
}

void SwitchMonitorOff(Client& client, int active, int number) {
  const ClientState& s = client.state;
  if (active == 1 && number == 0)
    WriteClientsKey(client, kActiveKey, 0);
  else if (active == 1 && number == 1 && s.isActive == 0)
    WriteClientsKey(client, kNumberKey, 0);
  else if (active == 1 && number == 1 && s.isActive == 1)
    WriteClientsKey(client, kActiveKey, 0);
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

void UpdateConfigOnDisconnect(Client& client) {
  const ClientState& s = client.state;
  EnsureConfigFile(client);
  if (s.isActive == 1 && s.clientsNumber == 1) WriteClientsKey(client, kActiveKey, 0);
  if (s.clientsNumber == 1) WriteClientsKey(client, kNumberKey, 0);
  if (s.isActive == 1) {
    WriteClientsKey(client, kActiveKey, 0);
    WriteClientsKey(client, kNumberKey, 0);
  }
}

void UpdateConfigOnExit(Client& client) {
  const ClientState& s = client.state;
  if (s.clientsNumber == 0) std::remove(ConfigIniPath(client).c_str());
  if (s.isActive == 1) {
    EnsureConfigFile(client);
    WriteClientsKey(client, kActiveKey, 0);
    WriteClientsKey(client, kNumberKey, 0);
  }
  if (s.isActive == 0) {
    EnsureConfigFile(client);
    WriteClientsKey(client, kNumberKey, 0);
  }
}

int ConnectionMonitorCommand(Client& client) {
  ClientState& s = client.state;
  int active = ReadClientsKey(client, kActiveKey);
  int number = ReadClientsKey(client, kNumberKey);
  s.clientsNumber = number;
  if (s.monitorEnabled == 0) {
    s.monitorEnabled = 1;
    EnsureConfigFile(client);
    SwitchMonitorOn(client, active, number);
  } else {
    s.monitorEnabled = 0;
    EnsureConfigFile(client);
    SwitchMonitorOff(client, active, number);
  }
  return s.monitorEnabled;
}

}  // namespace tagwell
