#include "server/host/Host.h"

#include <kj/async-unix.h>
#include <kj/vector.h>
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/registry/Registry.h"
#include "rpc/Diagnostics.h"
#include "rpc/Endpoint.h"
#include "rpc/ObjectServer.h"
#include "server/AddressSpaceXml.h"
#include "server/Simulation.h"
#include "server/host/DcomFace.h"
#include "server/host/EndpointClaim.h"
#include "server/host/Identity.h"

namespace tagwell::host {

namespace {

constexpr const char* kWho = "tagwell-server";

std::shared_ptr<server::AddressSpace> LoadSpace(const HostOptions& options, std::string* error) {
  server::AddressSpaceOptions spaceOptions;
  spaceOptions.flat = options.flat;
  if (options.addressSpaceFile.empty())
    return server::MakeDefaultAddressSpace(server::MakeSystemClock(), spaceOptions);
  return server::LoadAddressSpace(options.addressSpaceFile, server::MakeSystemClock(), spaceOptions,
                                  error);
}

// What the log says is served: the class, and the file it serves when one
// was given (a plant's devices are no simulation).
std::string Served(const ServedClass& served, const HostOptions& options,
                   const server::AddressSpace& space) {
  if (options.addressSpaceFile.empty()) return served.name;
  auto count = [](std::size_t n, const char* what) {
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
  };
  return options.addressSpaceFile + " (" + count(space.Items().size(), "item") + ", " +
         count(space.DeviceCount(), "Modbus device") + ") as " + served.name;
}

rpc::ObjectFactory ClassFactory(std::shared_ptr<server::AddressSpace> space, com::CLSID served) {
  return [space, served](const com::CLSID& clsid, com::IUnknown** object) -> com::HRESULT {
    if (clsid != served) return com::REGDB_E_CLASSNOTREG;
    return server::CreateSimulationServer(space, com::IID_IUnknown,
                                          reinterpret_cast<void**>(object));
  };
}

// Decides when a server started by activation has been idle long enough.
class IdleWatch final {
 public:
  IdleWatch(kj::Timer& timer, const HostOptions& options)
      : timer_(timer), options_(options), stop_(kj::newPromiseAndFulfiller<void>()) {}

  kj::Promise<void> Stopped() { return kj::mv(stop_.promise); }

  void ConnectionsChanged(std::size_t count) {
    if (!options_.embedding) return;
    if (count != 0) {
      wait_ = nullptr;
      return;
    }
    wait_ = timer_.afterDelay(options_.idleExit.count() * kj::SECONDS)
                .then([this] {
                  rpc::Diagnose(kWho, "no client for %lld s, exiting",
                                static_cast<long long>(options_.idleExit.count()));
                  stop_.fulfiller->fulfill();
                })
                .eagerlyEvaluate(nullptr);
  }

 private:
  kj::Timer& timer_;
  const HostOptions& options_;
  kj::PromiseFulfillerPair<void> stop_;
  kj::Maybe<kj::Promise<void>> wait_;
};

kj::Promise<void> OnSignal(kj::UnixEventPort& port, int signal, const char* name) {
  return port.onSignal(signal).then(
      [name](siginfo_t) { rpc::Diagnose(kWho, "%s received, exiting", name); });
}

// The served class over DCOM, with the same address space as the other faces.
bool ServeDcom(const HostOptions& options, std::shared_ptr<server::AddressSpace> space,
               const ServedClass& served, DcomFace* face) {
  dcom::ServedClass dcomClass{served.clsid, served.name,
                              std::string("OPC DA server ") + served.name,
                              [space](com::IUnknown** object) {
                                return server::CreateSimulationServer(
                                    space, com::IID_IUnknown, reinterpret_cast<void**>(object));
                              }};
  std::string error;
  if (face->Start(options, {dcomClass}, &error)) return true;
  rpc::Diagnose(kWho, "cannot serve DCOM clients: %s", error.c_str());
  return false;
}

}  // namespace

std::string DefaultEndpointPath() {
  std::string error;
  auto served = ResolveServedClass("", &error);
  return served ? served->endpointPath : std::string();
}

std::optional<ServedClass> ResolveServedClass(const std::string& text, std::string* error) {
  ServedClass served;
  std::optional<registry::ServerEntry> entry;
  const registry::Registry& installed = registry::InstalledServers();
  if (text.empty()) {
    served.clsid = server::CLSID_TagwellSimulation;
    served.name = server::kSimulationProgId;
    entry = installed.FindByProgId(served.name);
    if (entry && entry->clsid != served.clsid) entry.reset();
  } else if (text.front() == '{') {
    if (!com::ParseGuid(text, &served.clsid)) {
      *error = "--class: \"" + text + "\" is not a CLSID";
      return std::nullopt;
    }
    served.name = text;
    entry = installed.FindByClsid(served.clsid);
  } else {
    entry = installed.FindByProgId(text);
    if (!entry) {
      *error = "--class: no registration file names the ProgID " + text;
      return std::nullopt;
    }
    served.clsid = entry->clsid;
  }
  if (entry) served.name = entry->progId;
  if (!entry || !rpc::ParseUnixEndpoint(entry->endpoint, &served.endpointPath))
    served.endpointPath = registry::RuntimeFolder() + "/tagwell/" + served.name + ".sock";
  return served;
}

int RunHost(const HostOptions& options) {
  kj::UnixEventPort::captureSignal(SIGTERM);
  kj::UnixEventPort::captureSignal(SIGINT);
  std::string error;
  auto served = ResolveServedClass(options.serverClass, &error);
  if (!served) {
    rpc::Diagnose(kWho, "%s", error.c_str());
    return 1;
  }
  auto space = LoadSpace(options, &error);
  if (!space) {
    rpc::Diagnose(kWho, "%s", error.c_str());
    return 1;
  }
  auto io = kj::setupAsyncIo();
  std::string path = options.endpointPath.empty() ? served->endpointPath : options.endpointPath;
  EndpointClaim claim;
  std::vector<kj::Own<kj::ConnectionReceiver>> listeners;
  std::vector<rpc::Admission*> admissions;  // one per listener
  std::unique_ptr<rpc::TlsAdmission> tls;
  const std::string what = Served(*served, options, *space);
  int unixFd = claim.Claim(path, &error);
  if (unixFd >= 0) {
    listeners.push_back(io.lowLevelProvider->wrapListenSocketFd(
        unixFd, kj::LowLevelAsyncIoProvider::TAKE_OWNERSHIP));
    admissions.push_back(nullptr);
    rpc::Diagnose(kWho, "serving %s on unix:%s%s", what.c_str(), path.c_str(),
                  options.embedding ? " (started by activation)" : "");
  } else if (options.tcpAddress && claim.HeldByAnother()) {
    // The local clients have their server (one Tagwell started, say); the
    // remote ones are what this one is for.
    rpc::Diagnose(kWho, "%s: local clients are left to it; serving %s to remote clients only",
                  error.c_str(), what.c_str());
  } else {
    rpc::Diagnose(kWho, "%s", error.c_str());
    return 1;
  }
  if (options.tcpAddress) {
    std::uint16_t port = 0;
    int tcpFd = rpc::ListenTcp(*options.tcpAddress, options.tcpPort, &port);
    if (tcpFd < 0) {
      rpc::Diagnose(kWho, "cannot listen on %s port %u: %s", options.tcpAddress->c_str(),
                    static_cast<unsigned>(options.tcpPort), std::strerror(errno));
      return 1;
    }
    listeners.push_back(io.lowLevelProvider->wrapListenSocketFd(
        tcpFd, kj::LowLevelAsyncIoProvider::TAKE_OWNERSHIP));
    tls = MakeAdmission(options, io.provider->getTimer(), &error);
    if (!tls) {
      rpc::Diagnose(kWho, "cannot serve remote clients: %s", error.c_str());
      return 1;
    }
    admissions.push_back(tls.get());
    rpc::Diagnose(kWho, "serving remote clients on %s port %u", options.tcpAddress->c_str(),
                  static_cast<unsigned>(port));
  }

  DcomFace dcomFace;
  if (options.dcomAddress && !ServeDcom(options, space, *served, &dcomFace)) return 1;

  IdleWatch idle(io.provider->getTimer(), options);
  rpc::ObjectServer server(ClassFactory(space, served->clsid));
  server.SetConnectionObserver([&idle](std::size_t count) {
    rpc::Diagnose(kWho, "%zu client connection%s", count, count == 1 ? "" : "s");
    idle.ConnectionsChanged(count);
  });
  idle.ConnectionsChanged(0);
  {
    kj::Vector<kj::Promise<void>> accepting;
    for (std::size_t i = 0; i < listeners.size(); ++i)
      accepting.add(server.Listen(*listeners[i], io.provider->getTimer(), admissions[i]));
    auto accept = kj::joinPromises(accepting.releaseAsArray()).eagerlyEvaluate(nullptr);
    OnSignal(io.unixEventPort, SIGTERM, "SIGTERM")
        .exclusiveJoin(OnSignal(io.unixEventPort, SIGINT, "SIGINT"))
        .exclusiveJoin(idle.Stopped())
        .wait(io.waitScope);
  }
  // No new clients from here on; the connections (and their objects) go
  // with the server.
  listeners.clear();
  claim.Release();
  server.SetConnectionObserver(nullptr);
  rpc::Diagnose(kWho, "stopped");
  return 0;
}

}  // namespace tagwell::host
