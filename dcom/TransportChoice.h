// The activator behind CoCreateInstanceEx in the desktop client: the form
// of the computer name (platform/com/ComputerName.h) chooses the transport.
// This computer and tagwell-server over TLS go to one activator (rpc/'s),
// DCOM computers to the other; a name that is neither reaches nothing.
// Nothing is tried over one protocol after the other has failed.
#pragma once

#include "platform/com/Runtime.h"

namespace tagwell::dcom {

class TransportChoice final : public com::ServerActivator {
 public:
  // Both outlive the choice.
  TransportChoice(com::ServerActivator& tagwell, com::ServerActivator& dcom)
      : tagwell_(tagwell), dcom_(dcom) {}

  // Empty host: this computer (tagwell). A name that parses to no computer:
  // RPC_S_SERVER_UNAVAILABLE, with the reason on stderr.
  com::HRESULT Activate(com::REFCLSID clsid, const std::u16string& host, com::DWORD count,
                        com::MULTI_QI* results) override;
  // DCOM computers only (their server browser); E_NOTIMPL for the others.
  com::HRESULT ClassOnComputer(const std::u16string& host, const std::u16string& progId,
                               com::CLSID* clsid) override;
  com::HRESULT ServersOnComputer(const std::u16string& host,
                                 std::vector<std::u16string>* progIds) override;

 private:
  com::ServerActivator& tagwell_;
  com::ServerActivator& dcom_;
};

// Installs a TransportChoice for its lifetime and puts the activator
// installed before back afterwards.
class ScopedTransportChoice final {
 public:
  ScopedTransportChoice(com::ServerActivator& tagwell, com::ServerActivator& dcom);
  ~ScopedTransportChoice();
  ScopedTransportChoice(const ScopedTransportChoice&) = delete;
  ScopedTransportChoice& operator=(const ScopedTransportChoice&) = delete;

 private:
  TransportChoice choice_;
  com::ServerActivator* previous_;
};

}  // namespace tagwell::dcom
