// tagwell-server's DCOM face for the client's tests: the simulation class
// served by the DCOM runtime on the transport, on a free loopback port,
// with one account PLANT\op / "Secret-1". The runtime half
// (DcomPeerRuntime.cpp) is also linked by the client's benchmark.
#pragma once

#include <memory>
#include <string>

#include "dcom/rpc/Dispatch.h"

namespace tagwell::dcom {

// The runtime serving the simulation, its bindings naming port.
std::unique_ptr<Dispatcher> MakeSimulationRuntime(std::uint16_t port, AuthLevel minActivation);

class DcomPeer {
 public:
  explicit DcomPeer(AuthLevel minActivation = AuthLevel::PacketIntegrity);
  ~DcomPeer();
  // Stops listening and drops every connection (as a killed server would).
  void Stop();
  std::u16string Computer() const;  // "127.0.0.1[PORT]"
  std::string Key() const;          // the same, as credentials are kept
  std::uint16_t port() const { return port_; }

 private:
  struct Parts;
  std::uint16_t port_;
  std::unique_ptr<Parts> parts_;
};

}  // namespace tagwell::dcom
