// tagwell-server's DCOM face: the DCOM runtime over the DCE/RPC transport,
// serving the same server objects, address space and rights as the other
// faces to Windows OPC clients, and the command that adds an account.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dcom/Runtime.h"
#include "server/host/HostOptions.h"

namespace tagwell::host {

// "[ADDRESS][:PORT]" of --dcom: all IPv4 addresses and port 135 unless
// given; a bare number is a port. False for anything else.
bool ParseDcomListen(const std::string& text, HostOptions* options);

// The string bindings objects are reached by: ADDRESS[PORT] for a given
// address; for all addresses, the host name and each IPv4 address of the
// machine's interfaces that are up.
dcom::Bindings DcomBindings(const std::string& address, std::uint16_t port);

class DcomFace {
 public:
  DcomFace();
  ~DcomFace();  // stops serving and waits for the calls in progress
  DcomFace(const DcomFace&) = delete;
  DcomFace& operator=(const DcomFace&) = delete;

  // Serves classes on options' DCOM address and port; false with the
  // reason (a hint for privileged ports included) in *error.
  bool Start(const HostOptions& options, std::vector<dcom::ServedClass> classes,
             std::string* error);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// --add-dcom-account: asks for the password on the terminal (not echoed,
// twice) or reads one line from a pipe, and stores the account. The exit
// status.
int AddDcomAccountFromTerminal(const HostOptions& options);

}  // namespace tagwell::host
