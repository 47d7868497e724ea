// The command line of tagwell-server.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tagwell::host {

struct HostOptions {
  // The unix socket to listen on; empty: from the registration of the class.
  std::string endpointPath;
  // TCP for remote clients, when asked for; loopback unless an address is given.
  std::optional<std::string> tcpAddress;
  std::uint16_t tcpPort = 0;     // 0: any free port (logged)
  std::string addressSpaceFile;  // empty: the built-in plant
  // The class served: a ProgID of a registration file or a CLSID in
  // braces; empty: "Tagwell.Simulation.1".
  std::string serverClass;
  bool flat = false;
  // Started by activation: exit when no client has been connected for idleExit.
  bool embedding = false;
  std::chrono::seconds idleExit{5};
  bool help = false;
  // Remote clients: any may come in (with a warning), not only those in the
  // authorized-clients file.
  bool allowAnyClient = false;
  // --fingerprint: print the certificate's fingerprint and exit.
  bool printFingerprint = false;
  // --authorize FINGERPRINT NAME [--read-only]: add a client and exit.
  bool authorize = false;
  std::string authorizeFingerprint;  // canonical form
  std::string authorizeName;
  bool readOnly = false;
  // --dcom [ADDRESS][:PORT]: also serve Windows OPC clients over DCOM.
  std::optional<std::string> dcomAddress;
  std::uint16_t dcomPort = 135;
  // --add-dcom-account DOMAIN\USER [--read-only]: add a DCOM account and exit.
  bool addDcomAccount = false;
  std::string dcomAccountName;
};

// Parses the arguments after the program name. nullopt with *error set for
// a command line that cannot be used.
std::optional<HostOptions> ParseHostOptions(const std::vector<std::string>& arguments,
                                            std::string* error);

// The text of --help.
std::string HostUsage();

}  // namespace tagwell::host
