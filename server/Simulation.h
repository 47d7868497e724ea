// The simulation OPC DA server class "Tagwell.Simulation.1".
#pragma once

#include <memory>

#include "platform/com/Unknown.h"

namespace tagwell::server {

// {6E0C5A1D-3B7F-4C2E-9A41-2F8D7B1C9E53}
inline constexpr com::CLSID CLSID_TagwellSimulation = {
    0x6E0C5A1D, 0x3B7F, 0x4C2E, {0x9A, 0x41, 0x2F, 0x8D, 0x7B, 0x1C, 0x9E, 0x53}};
inline constexpr const char* kSimulationProgId = "Tagwell.Simulation.1";

// The vendor text of the server status.
inline constexpr const char* kSimulationVendor = "Tagwell Simulation Server 8.4";

class AddressSpace;

struct SimulationServerOptions {
  // An OPC_FLAT listing also names the branches below the browse position.
  bool flatListsBranches = false;
};

// Creates a server object over space and returns its interface riid in *ppv
// (E_NOINTERFACE and null for an interface it does not implement). Every
// object implements IOPCServer, IOPCBrowseServerAddressSpace and
// IOPCItemProperties. Objects over the same space share the items and their
// values; each has its own groups and browse position.
com::HRESULT CreateSimulationServer(std::shared_ptr<AddressSpace> space, com::REFIID riid,
                                    void** ppv, SimulationServerOptions options = {});

// Makes "Tagwell.Simulation.1" creatable in this process
// (CoCreateInstanceEx with CLSCTX_INPROC_SERVER) until
// com::RevokeInprocClass(cookie); every object shares space.
com::DWORD RegisterSimulationServerInproc(std::shared_ptr<AddressSpace> space);

}  // namespace tagwell::server
