// In-process registration of "Tagwell.Simulation.1" (kept apart so that
// code creating server objects directly does not need the class registry).
#include "platform/com/Runtime.h"
#include "server/Simulation.h"

namespace tagwell::server {

com::DWORD RegisterSimulationServerInproc(std::shared_ptr<AddressSpace> space) {
  return com::RegisterInprocClass(
      CLSID_TagwellSimulation,
      [space](com::REFIID riid, void** ppv) { return CreateSimulationServer(space, riid, ppv); },
      kSimulationProgId);
}

}  // namespace tagwell::server
