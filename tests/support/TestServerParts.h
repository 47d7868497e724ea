// Pieces of the test server shared between its source files.
#pragma once

#include <memory>

#include "platform/opcda/OpcDa.h"
#include "tests/support/TestServer.h"

namespace tagwell::testing {

// A decorator of a simulation group (one reference, the caller's; its
// IUnknown is its IOPCItemMgt).
com::IUnknown* WrapTestGroup(com::ComPtr<com::IOPCItemMgt> inner,
                             std::shared_ptr<FaultScript> script);
// The simulation group behind a decorator made by WrapTestGroup.
void* TestGroupInner(com::IUnknown* group);
// A decorator of a browse enumerator; takes over the reference to inner.
com::IEnumString* WrapTestEnumString(com::IEnumString* inner, std::shared_ptr<FaultScript> script);

}  // namespace tagwell::testing
