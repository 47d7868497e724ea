#include "dcom/Runtime.h"
#include "platform/com/Text.h"
#include "server/AddressSpaceXml.h"
#include "server/Simulation.h"
#include "tests/dcom/client/DcomPeer.h"

namespace tagwell::dcom {

std::unique_ptr<Dispatcher> MakeSimulationRuntime(std::uint16_t port, AuthLevel minActivation) {
  RuntimeOptions options;
  options.bindings.tcp = {u"127.0.0.1[" + com::Utf8ToUtf16(std::to_string(port)) + u"]"};
  options.bindings.security = {{kAuthnWinNt, u""}};
  options.minActivationLevel = minActivation;
  auto space = server::MakeDefaultAddressSpace();
  ServedClass simulation{server::CLSID_TagwellSimulation, server::kSimulationProgId,
                         "Tagwell simulation", [space](com::IUnknown** object) {
                           return server::CreateSimulationServer(space, com::IID_IUnknown,
                                                                 reinterpret_cast<void**>(object));
                         }};
  return std::make_unique<Runtime>(options, std::vector<ServedClass>{simulation});
}

}  // namespace tagwell::dcom
