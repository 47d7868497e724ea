// The server conformance suite once more, through the proxies over a real
// socket: every answer must be the one the in-process object gives.
#include <mutex>

#include "rpc/Client.h"
#include "rpc/ServerThread.h"
#include "server/Simulation.h"
#include "tests/server/ServerConformance.h"

namespace {

using namespace tagwell;

// Serves simulation objects over the space the next creation names. One
// server thread for the whole program; each creation opens its own
// connection, as activation does.
class SimulationOverRpc final {
 public:
  com::ComPtr<com::IOPCServer> Create(std::shared_ptr<server::AddressSpace> space) {
    {
      std::lock_guard lock(mutex_);
      space_ = std::move(space);
    }
    com::ComPtr<com::IOPCServer> proxy;
    EXPECT_EQ(rpc::CreateObjectOverSocket(thread_.ConnectPair(), server::CLSID_TagwellSimulation,
                                          com::IID_IOPCServer, proxy.ReceiveVoid()),
              com::S_OK);
    return proxy;
  }

 private:
  com::HRESULT Serve(const com::CLSID& clsid, com::IUnknown** object) {
    std::lock_guard lock(mutex_);
    if (clsid != server::CLSID_TagwellSimulation || !space_) return com::REGDB_E_CLASSNOTREG;
    return server::CreateSimulationServer(std::exchange(space_, nullptr), com::IID_IUnknown,
                                          reinterpret_cast<void**>(object));
  }

  std::mutex mutex_;
  std::shared_ptr<server::AddressSpace> space_;
  rpc::ServerThread thread_{
      [this](const com::CLSID& clsid, com::IUnknown** object) { return Serve(clsid, object); }};
};

com::ComPtr<com::IOPCServer> CreateThroughRpc(std::shared_ptr<server::AddressSpace> space) {
  static SimulationOverRpc* served = new SimulationOverRpc();  // lives as long as the program
  return served->Create(std::move(space));
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(ThroughRpc, ServerConformance,
                         ::testing::Values(tagwell::testing::ConformanceTarget{"Rpc",
                                                                               CreateThroughRpc}),
                         tagwell::testing::ConformanceTargetName);
