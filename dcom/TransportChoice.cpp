#include "dcom/TransportChoice.h"

#include <cstdio>

#include "platform/com/ComputerName.h"
#include "platform/com/Text.h"

namespace tagwell::dcom {

using namespace com;

namespace {

// The computer host names, or nothing (said on stderr).
bool Parse(const std::u16string& host, ComputerAddress* address) {
  std::string error;
  if (ParseComputerName(Utf16ToUtf8(host), address, &error)) return true;
  std::fprintf(stderr, "tagwell activation: \"%s\" names no computer: %s\n",
               Utf16ToUtf8(host).c_str(), error.c_str());
  return false;
}

HRESULT FailAll(HRESULT hr, DWORD count, MULTI_QI* results) {
  for (DWORD i = 0; results && i < count; ++i) {
    results[i].pItf = nullptr;
    results[i].hr = hr;
  }
  return hr;
}

}  // namespace

HRESULT TransportChoice::Activate(REFCLSID clsid, const std::u16string& host, DWORD count,
                                  MULTI_QI* results) {
  if (host.empty()) return tagwell_.Activate(clsid, host, count, results);
  ComputerAddress address;
  if (!Parse(host, &address)) return FailAll(RPC_S_SERVER_UNAVAILABLE, count, results);
  if (address.protocol == RemoteProtocol::Dcom) return dcom_.Activate(clsid, host, count, results);
  // rpc/ takes "host:port" (an IPv6 address in brackets).
  return tagwell_.Activate(clsid, Utf8ToUtf16(DisplayName(address)), count, results);
}

HRESULT TransportChoice::ClassOnComputer(const std::u16string& host, const std::u16string& progId,
                                         CLSID* clsid) {
  ComputerAddress address;
  if (host.empty() || !Parse(host, &address) || address.protocol != RemoteProtocol::Dcom)
    return E_NOTIMPL;
  return dcom_.ClassOnComputer(host, progId, clsid);
}

HRESULT TransportChoice::ServersOnComputer(const std::u16string& host,
                                           std::vector<std::u16string>* progIds) {
  ComputerAddress address;
  if (host.empty() || !Parse(host, &address) || address.protocol != RemoteProtocol::Dcom)
    return E_NOTIMPL;
  return dcom_.ServersOnComputer(host, progIds);
}

ScopedTransportChoice::ScopedTransportChoice(ServerActivator& tagwell, ServerActivator& dcom)
    : choice_(tagwell, dcom), previous_(GetServerActivator()) {
  SetServerActivator(&choice_);
}

ScopedTransportChoice::~ScopedTransportChoice() {
  SetServerActivator(previous_);
}

}  // namespace tagwell::dcom
