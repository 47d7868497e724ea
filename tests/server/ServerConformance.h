// The conformance suite of the simulation server: what a client can rely on,
// checked through the COM interfaces only, so that the same tests run
// against an in-process object and against a proxy through the rpc layer.
//
// A second test program instantiates it with its own factory:
//   #include "tests/server/ServerConformance.h"
//   INSTANTIATE_TEST_SUITE_P(ThroughRpc, ServerConformance,
//       ::testing::Values(tagwell::testing::ConformanceTarget{
//           "Rpc", [](std::shared_ptr<tagwell::server::AddressSpace> space) {
//             return ServeAndConnect(space);  // a proxy of CreateSimulationServer(space, ...)
//           }}),
//       tagwell::testing::ConformanceTargetName);
// and compiles tests/server/ServerConformance.cpp into it (link
// tagwell_server and tagwell_test_support). The address space handed to the
// factory runs on a ManualClock, so time stamps stay exact wherever the
// object lives, as long as the factory serves an object over that space.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/opcda/OpcDa.h"
#include "server/AddressSpace.h"
#include "tests/support/TestServer.h"

namespace tagwell::testing {

struct ConformanceTarget {
  std::string name;
  // A new server object over space (each call a new object).
  std::function<com::ComPtr<com::IOPCServer>(std::shared_ptr<server::AddressSpace> space)> create;
};

inline void PrintTo(const ConformanceTarget& target, std::ostream* os) {
  *os << target.name;
}

inline std::string ConformanceTargetName(const ::testing::TestParamInfo<ConformanceTarget>& info) {
  return info.param.name;
}

// The address space the suite expects (hierarchical or flat), on clock.
std::shared_ptr<server::AddressSpace> MakeConformanceSpace(std::shared_ptr<server::Clock> clock,
                                                           bool flat);

}  // namespace tagwell::testing

// Every test starts with a fresh space on a ManualClock at TestEpoch() and one
// server object, and ends by checking that every task-allocator block handed
// out was freed by the test (TaskMemOutstanding back to where it started).
class ServerConformance : public ::testing::TestWithParam<tagwell::testing::ConformanceTarget> {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Replaces space and server by a flat presentation of the same items.
  void UseFlatSpace();
  com::ComPtr<com::IOPCServer> NewServer();

  std::shared_ptr<tagwell::testing::ManualClock> clock_;
  std::shared_ptr<tagwell::server::AddressSpace> space_;
  com::ComPtr<com::IOPCServer> server_;
  com::ComPtr<com::IOPCBrowseServerAddressSpace> browse_;

 private:
  std::size_t baseline_ = 0;
};
