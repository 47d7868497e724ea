#include "tests/rpc/peer/OpcSession.h"

#include "platform/com/Runtime.h"

namespace tagwell::testing {

using namespace com;

HRESULT OpcSession::Connect(const std::u16string& name, const std::u16string& computer) {
  CLSID clsid{};
  HRESULT hr = CLSIDFromString(name.c_str(), &clsid);
  if (FAILED(hr)) return hr;
  std::u16string host = computer;
  COSERVERINFO info{0, host.data(), nullptr, 0};
  MULTI_QI query{&IID_IOPCServer, nullptr, S_OK};
  hr = computer.empty()
           ? CoCreateInstanceEx(clsid, nullptr, CLSCTX_LOCAL_SERVER, nullptr, 1, &query)
           : CoCreateInstanceEx(clsid, nullptr, CLSCTX_REMOTE_SERVER, &info, 1, &query);
  if (FAILED(hr)) return hr;
  server_ = ComPtr<IOPCServer>::Adopt(static_cast<IOPCServer*>(query.pItf));
  OPCHANDLE group = 0;
  DWORD rate = 0;
  return server_->AddGroup(u"", TRUE, 100, 0, nullptr, nullptr, 0, &group, &rate, IID_IOPCItemMgt,
                           reinterpret_cast<IUnknown**>(group_.Receive()));
}

HRESULT OpcSession::AddItem(const std::u16string& id, OPCHANDLE* handle) {
  std::u16string itemId = id;
  std::u16string path;
  OPCITEMDEF def{path.data(), itemId.data(), TRUE, 1, 0, nullptr, VT_EMPTY, 0};
  OPCITEMRESULT* results = nullptr;
  HRESULT* errors = nullptr;
  HRESULT hr = group_->AddItems(1, &def, &results, &errors);
  if (hr == S_OK) *handle = results[0].hServer;
  if (results) CoTaskMemFree(results[0].pBlob);
  CoTaskMemFree(results);
  CoTaskMemFree(errors);
  return hr;
}

HRESULT OpcSession::Read(OPCHANDLE handle, Variant* value) {
  ComPtr<IOPCSyncIO> io;
  HRESULT hr = group_.As(IID_IOPCSyncIO, &io);
  if (FAILED(hr)) return hr;
  OPCITEMSTATE* states = nullptr;
  HRESULT* errors = nullptr;
  hr = io->Read(OPC_DS_DEVICE, 1, &handle, &states, &errors);
  if (states) *value = Variant::Adopt(&states[0].vDataValue);
  CoTaskMemFree(states);
  CoTaskMemFree(errors);
  return hr;
}

HRESULT OpcSession::Write(OPCHANDLE handle, const VARIANT& value) {
  ComPtr<IOPCSyncIO> io;
  HRESULT hr = group_.As(IID_IOPCSyncIO, &io);
  if (FAILED(hr)) return hr;
  VARIANT copy = value;
  HRESULT* errors = nullptr;
  hr = io->Write(1, &handle, &copy, &errors);
  if (errors && SUCCEEDED(hr)) hr = errors[0] == S_OK ? hr : errors[0];
  CoTaskMemFree(errors);
  return hr;
}

void OpcSession::Release() {
  group_.Reset();
  server_.Reset();
}

}  // namespace tagwell::testing
