#include "dcom/ClientActivation.h"

#include <cstdio>

#include "platform/com/ComputerName.h"
#include "platform/com/Text.h"

namespace tagwell::dcom {

using namespace com;

namespace {

constexpr const char* kWho = "tagwell dcom";

bool ParseDcom(const std::u16string& host, ComputerAddress* address) {
  std::string error;
  if (ParseComputerName(Utf16ToUtf8(host), address, &error) &&
      address->protocol == RemoteProtocol::Dcom)
    return true;
  std::fprintf(stderr, "%s: \"%s\" is no DCOM computer name%s%s\n", kWho, Utf16ToUtf8(host).c_str(),
               error.empty() ? "" : ": ", error.c_str());
  return false;
}

// The connection a computer's calls go over, once the client transport of
// dcom/rpc is there to make it.
HRESULT Reach(const ComputerAddress& address, const ClientOptions& options) {
  std::fprintf(stderr, "%s: %s: no DCOM client transport in this build (level %d)\n", kWho,
               DisplayName(address).c_str(), static_cast<int>(EffectiveLevel(options)));
  return RPC_S_SERVER_UNAVAILABLE;
}

}  // namespace

AuthLevel EffectiveLevel(const ClientOptions& options) {
  return options.level < AuthLevel::PacketIntegrity ? AuthLevel::PacketIntegrity : options.level;
}

DcomActivator::DcomActivator(ClientOptions options) : options_(options) {}

DcomActivator::~DcomActivator() = default;

HRESULT DcomActivator::Activate(REFCLSID, const std::u16string& host, DWORD count,
                                MULTI_QI* results) {
  if (count == 0 || !results) return E_INVALIDARG;
  ComputerAddress address;
  HRESULT hr = ParseDcom(host, &address) ? Reach(address, options_) : RPC_S_SERVER_UNAVAILABLE;
  for (DWORD i = 0; i < count; ++i) {
    results[i].pItf = nullptr;
    results[i].hr = hr;
  }
  return hr;
}

HRESULT DcomActivator::ClassOnComputer(const std::u16string& host, const std::u16string&, CLSID*) {
  ComputerAddress address;
  return ParseDcom(host, &address) ? Reach(address, options_) : RPC_S_SERVER_UNAVAILABLE;
}

HRESULT DcomActivator::ServersOnComputer(const std::u16string& host, std::vector<std::u16string>*) {
  ComputerAddress address;
  return ParseDcom(host, &address) ? Reach(address, options_) : RPC_S_SERVER_UNAVAILABLE;
}

}  // namespace tagwell::dcom
