// tagwell-server: the simulation server class served to client processes.
#pragma once

#include "server/host/HostOptions.h"

namespace tagwell::host {

// Serves "Tagwell.Simulation.1" as options say until SIGTERM or SIGINT, or
// (embedding) until no client has been connected for options.idleExit.
// Returns the exit status: 0 after a clean stop, 1 when the server cannot
// start (address space, endpoint or port unusable; the reason goes to
// stderr). Call from main() before any other thread is started: it takes
// SIGTERM and SIGINT over for the process.
int RunHost(const HostOptions& options);

// The endpoint path when none is given: the Endpoint of the class's
// registration, else $XDG_RUNTIME_DIR/tagwell/Tagwell.Simulation.1.sock.
std::string DefaultEndpointPath();

}  // namespace tagwell::host
