#include "rpc/Client.h"

#include <unistd.h>

#include "rpc/Endpoint.h"
#include "rpc/Proxy.h"
#include "rpc/Tls.h"

namespace tagwell::rpc {

using namespace com;

HRESULT CreateObjectAt(const std::string& endpoint, REFCLSID clsid, REFIID riid, void** ppv,
                       const ClientOptions& options) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  std::string path;
  if (!ParseUnixEndpoint(endpoint, &path)) return E_INVALIDARG;
  int fd = ConnectUnix(path);
  if (fd < 0) return RPC_S_SERVER_UNAVAILABLE;
  return CreateObjectOverSocket(fd, clsid, riid, ppv, options);
}

HRESULT CreateObjectOverFd(int fd, const CLSID& clsid, std::chrono::milliseconds callTimeout,
                           ComPtr<IUnknown>* object) {
  bool taken = false;
  try {
    auto apartment = Apartment::ForThisThread();
    auto stream =
        apartment->lowLevel().wrapSocketFd(fd, kj::LowLevelAsyncIoProvider::TAKE_OWNERSHIP);
    taken = true;
    return CreateObject(apartment, kj::mv(stream), clsid, callTimeout, object);
  } catch (...) {
    if (!taken) ::close(fd);
    return HResultFromCurrentException();
  }
}

HRESULT CreateObjectOverSocket(int fd, REFCLSID clsid, REFIID riid, void** ppv,
                               const ClientOptions& options) {
  if (!ppv) {
    ::close(fd);
    return E_POINTER;
  }
  *ppv = nullptr;
  ComPtr<IUnknown> object;
  HRESULT hr = CreateObjectOverFd(fd, clsid, options.callTimeout, &object);
  if (FAILED(hr)) return hr;
  return object->QueryInterface(riid, ppv);
}

HRESULT CreateObjectOverTls(int fd, std::shared_ptr<TlsIdentity> identity, REFCLSID clsid,
                            REFIID riid, void** ppv, std::string* serverFingerprint,
                            const ClientOptions& options) {
  if (!ppv) {
    ::close(fd);
    return E_POINTER;
  }
  *ppv = nullptr;
  std::string error;
  auto context = TlsContext::Make(TlsContext::Role::Client, std::move(identity), &error);
  if (!context) {
    ::close(fd);
    return E_FAIL;
  }
  ComPtr<IUnknown> object;
  bool taken = false;
  try {
    auto apartment = Apartment::ForThisThread();
    auto stream =
        apartment->lowLevel().wrapSocketFd(fd, kj::LowLevelAsyncIoProvider::TAKE_OWNERSHIP);
    taken = true;
    auto tls = WaitWithin(*apartment, context->Handshake(kj::mv(stream)), options.callTimeout);
    KJ_IF_MAYBE (connected, tls) {
      *serverFingerprint = (*connected)->peerFingerprint();
      HRESULT hr = CreateObject(apartment, kj::mv(*connected), clsid, options.callTimeout, &object);
      if (FAILED(hr)) return hr;
      return object->QueryInterface(riid, ppv);
    }
    return RPC_S_SERVER_UNAVAILABLE;
  } catch (...) {
    if (!taken) ::close(fd);
    return RPC_S_SERVER_UNAVAILABLE;
  }
}

}  // namespace tagwell::rpc
