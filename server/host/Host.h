// tagwell-server: the simulation server class served to client processes.
#pragma once

#include <optional>
#include <string>

#include "platform/com/Types.h"
#include "server/host/HostOptions.h"

namespace tagwell::host {

// Serves the class options.serverClass names (ResolveServedClass) as options say until SIGTERM or
// SIGINT, or (embedding) until no client has been connected for options.idleExit. Returns the exit
// status: 0 after a clean stop, 1 when the server cannot start (address space, endpoint or port
// unusable; the reason goes to stderr). Call from main() before any other thread is started: it
// takes SIGTERM and SIGINT over for the process.
int RunHost(const HostOptions& options);

// The endpoint path of the simulation class when none is given (see
// ResolveServedClass).
std::string DefaultEndpointPath();

struct ServedClass {
  com::CLSID clsid{};
  std::string name;          // the ProgID when registered, else the CLSID text
  std::string endpointPath;  // where to listen unless --endpoint says
};

// The class of --class: "" is the simulation class, "{...}" a CLSID, other
// text the ProgID of a registration file. The endpoint is the Endpoint of
// the class's registration, else $XDG_RUNTIME_DIR/tagwell/NAME.sock. nullopt
// with *error for a malformed CLSID or a ProgID nobody registered.
std::optional<ServedClass> ResolveServedClass(const std::string& text, std::string* error);

}  // namespace tagwell::host
