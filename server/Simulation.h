// The simulation OPC DA server class "Tagwell.Simulation.1".
#pragma once

#include "platform/com/Unknown.h"

namespace tagwell::server {

// {6E0C5A1D-3B7F-4C2E-9A41-2F8D7B1C9E53}
inline constexpr com::CLSID CLSID_TagwellSimulation = {
    0x6E0C5A1D, 0x3B7F, 0x4C2E, {0x9A, 0x41, 0x2F, 0x8D, 0x7B, 0x1C, 0x9E, 0x53}};
inline constexpr const char* kSimulationProgId = "Tagwell.Simulation.1";

}  // namespace tagwell::server
