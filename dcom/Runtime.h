// The DCOM runtime of a server process: what answers the transport's calls.
//
// On one TCP port it is the OXID resolver (IObjectExporter), the remote
// activator (IRemoteSCMActivator), IRemUnknown2 of the object exporter, and
// the stubs of the objects' interfaces by IPID. Thread-safe: the transport
// may call from several threads; the served objects serialise their own
// calls.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "dcom/Exporter.h"
#include "dcom/rpc/Dispatch.h"

namespace tagwell::dcom {

// A class this process serves to activation.
struct ServedClass {
  com::CLSID clsid{};
  std::string progId;
  std::string description;
  // Creates a new object; the caller receives one reference.
  std::function<com::HRESULT(com::IUnknown** object)> create;
};

struct RuntimeOptions {
  Bindings bindings;  // what OBJREFs and the resolver name
  NowFunction clock = [] { return std::chrono::steady_clock::now(); };
  std::chrono::seconds pingPeriod{120};
  // Activation below this level is refused, as a hardened Windows does.
  AuthLevel minActivationLevel = AuthLevel::PacketIntegrity;
};

class Runtime final : public Dispatcher {
 public:
  // The OPC server browser (OPCEnum) is served beside classes.
  Runtime(RuntimeOptions options, std::vector<ServedClass> classes);

  bool Supports(const SyntaxId& abstract) const override;
  Response Call(const Request& request) override;
  void AssociationGroupClosed(std::uint32_t group) override;

  Exporter& exporter() { return exporter_; }
  const std::vector<ServedClass>& classes() const { return classes_; }
  // Drops objects whose clients stopped pinging; Call runs it too, at most
  // once per second of the clock.
  void Collect();

 private:
  Response Resolve(const Request& request);
  Response Activate(const Request& request);
  Response RemUnknown(const Request& request);
  Response Object(const Request& request);

  RuntimeOptions options_;
  std::vector<ServedClass> classes_;
  Exporter exporter_;
  std::mutex collectMutex_;
  std::chrono::steady_clock::time_point lastCollect_{};
};

// The COM version this runtime speaks (5.7).
void WriteComVersion(NdrWriter& w);

}  // namespace tagwell::dcom
