// Reaching an object in a server process directly, without the registry:
// for tests, benchmarks and tools. Applications use activation
// (rpc/Activation.h) through CoCreateInstanceEx instead.
//
// The proxies handed out follow the thread rules of rpc/Apartment.h: use
// them on the thread that created them.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/com/Unknown.h"

namespace tagwell::rpc {

struct ClientOptions {
  // How long one call may take before it fails with RPC_E_TIMEOUT.
  std::chrono::milliseconds callTimeout = std::chrono::seconds(10);
};

// Creates an object of class clsid in the server listening at endpoint
// ("unix:PATH") and returns interface riid of its proxy in *ppv.
// RPC_S_SERVER_UNAVAILABLE when nothing listens there.
com::HRESULT CreateObjectAt(const std::string& endpoint, com::REFCLSID clsid, com::REFIID riid,
                            void** ppv, const ClientOptions& options = {});

// The same over a connected socket, which the call takes over (it is closed
// with the last proxy, or at once on failure).
com::HRESULT CreateObjectOverSocket(int fd, com::REFCLSID clsid, com::REFIID riid, void** ppv,
                                    const ClientOptions& options = {});

class TlsIdentity;

// The same over TLS: this side shows identity, and takes the server's
// certificate as it comes; its fingerprint goes to *serverFingerprint for
// the caller to judge. RPC_S_SERVER_UNAVAILABLE when the handshake fails.
com::HRESULT CreateObjectOverTls(int fd, std::shared_ptr<TlsIdentity> identity, com::REFCLSID clsid,
                                 com::REFIID riid, void** ppv, std::string* serverFingerprint,
                                 const ClientOptions& options = {});

}  // namespace tagwell::rpc
