// The conformance suite against in-process simulation server objects.
#include "server/Simulation.h"
#include "tests/server/ServerConformance.h"

namespace {

com::ComPtr<com::IOPCServer> CreateInProcess(std::shared_ptr<tagwell::server::AddressSpace> space) {
  com::ComPtr<com::IOPCServer> server;
  tagwell::server::CreateSimulationServer(std::move(space), com::IID_IOPCServer,
                                          server.ReceiveVoid());
  return server;
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(InProcess, ServerConformance,
                         ::testing::Values(tagwell::testing::ConformanceTarget{"Simulation",
                                                                               CreateInProcess}),
                         tagwell::testing::ConformanceTargetName);
