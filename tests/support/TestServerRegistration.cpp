// In-process registration of "Tagwell.TestServer.1".
#include "platform/com/Runtime.h"
#include "tests/support/TestServer.h"

namespace tagwell::testing {

com::DWORD RegisterTestServerInproc(std::shared_ptr<server::AddressSpace> space,
                                    std::shared_ptr<FaultScript> script) {
  return com::RegisterInprocClass(
      CLSID_TagwellTestServer,
      [space, script](com::REFIID riid, void** ppv) {
        return CreateTestServer(space, script, riid, ppv);
      },
      kTestServerProgId);
}

}  // namespace tagwell::testing
