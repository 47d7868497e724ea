#include "rpc/Client.h"

#include <unistd.h>

#include "rpc/Endpoint.h"
#include "rpc/Proxy.h"

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

}  // namespace tagwell::rpc
