// An independent Modbus TCP device for tests: pymodbus (Debian's
// python3-pymodbus) run by tests/e2e/modbus_peer.py on a free loopback
// port. Tables co, di, ir and hr hold addresses 0..199, all zero at the
// start; higher addresses answer with Modbus exception 2.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/Process.h"

namespace tagwell::testing {

class ModbusPeer {
 public:
  // Starts the peer and waits (bounded) until it listens; port() is 0 when
  // it could not be started.
  ModbusPeer();
  ~ModbusPeer();
  ModbusPeer(const ModbusPeer&) = delete;
  ModbusPeer& operator=(const ModbusPeer&) = delete;

  std::uint16_t port() const { return port_; }
  // Stores values from address on in table ("co", "di", "ir", "hr").
  bool Set(const std::string& table, unsigned address, const std::vector<unsigned>& values);
  // The values stored there; empty when the peer does not answer.
  std::vector<unsigned> Get(const std::string& table, unsigned address, unsigned count);
  // Closes the port and every connection, and opens the same port again.
  bool Stop();
  bool Start();
  // Every answer comes that many seconds late.
  bool Delay(double seconds);
  // Writes are done but never answered; how many went unanswered so far.
  bool MuteWrites();
  int MutedWrites();

 private:
  std::unique_ptr<ChildProcess> process_;
  std::uint16_t port_ = 0;
};

}  // namespace tagwell::testing
