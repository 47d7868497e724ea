// The proxy of IEnumString, reading ahead.
#include <cstring>

#include "rpc/Marshal.h"
#include "rpc/ProxyInterfaces.h"

namespace tagwell::rpc {

using namespace com;

HRESULT EnumStringProxy::Fill(ULONG wanted) {
  while (buffered_.size() < wanted && !ended_) {
    ULONG missing = wanted - static_cast<ULONG>(buffered_.size());
    ULONG count = std::min(kMaxEnumBatch, std::max(kReadAhead, missing));
    auto request = cap().stringNextRequest();
    request.setCount(count);
    request.setWantFetched(true);
    HRESULT hr = connection().Call(request, [&](auto answer) {
      auto items = answer.getItems();
      if (items.size() > count) return RPC_E_INVALID_DATA;
      std::vector<std::u16string> names(items.size());
      for (unsigned i = 0; i < items.size(); ++i) {
        if (items[i].size() % sizeof(WCHAR) != 0) return RPC_E_INVALID_DATA;
        names[i].resize(items[i].size() / sizeof(WCHAR));
        if (!names[i].empty()) std::memcpy(names[i].data(), items[i].begin(), items[i].size());
      }
      HRESULT result = answer.getHr();
      if (FAILED(result)) return result;
      for (auto& name : names) buffered_.push_back(std::move(name));
      if (result != S_OK || items.size() < count) ended_ = true;
      return result;
    });
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT EnumStringProxy::Next(ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) {
  // The COM rule: only a request for one name may omit the count.
  if (!rgelt || (celt != 1 && !pceltFetched)) return E_INVALIDARG;
  if (pceltFetched) *pceltFetched = 0;
  HRESULT hr = Fill(celt);
  if (FAILED(hr)) return hr;
  ULONG count = std::min(celt, static_cast<ULONG>(buffered_.size()));
  TaskArray<LPOLESTR> texts(count);
  if (!texts.ok()) return E_OUTOFMEMORY;
  for (ULONG i = 0; i < count; ++i) {
    texts[i] = CoTaskMemStrDup(buffered_[i].c_str());
    if (!texts[i]) return E_OUTOFMEMORY;
  }
  // Nothing can fail from here: hand the names out.
  for (ULONG i = 0; i < count; ++i) rgelt[i] = std::exchange(texts[i], nullptr);
  buffered_.erase(buffered_.begin(), buffered_.begin() + count);
  if (pceltFetched) *pceltFetched = count;
  return count == celt ? S_OK : S_FALSE;
}

HRESULT EnumStringProxy::Skip(ULONG celt) {
  ULONG fromBuffer = std::min(celt, static_cast<ULONG>(buffered_.size()));
  buffered_.erase(buffered_.begin(), buffered_.begin() + fromBuffer);
  ULONG rest = celt - fromBuffer;
  if (rest == 0) return S_OK;
  if (ended_) return S_FALSE;
  auto request = cap().stringSkipRequest();
  request.setCount(rest);
  HRESULT hr = connection().Call(request, HrOnly());
  if (hr == S_FALSE) ended_ = true;
  return hr;
}

HRESULT EnumStringProxy::Reset() {
  auto request = cap().stringResetRequest();
  HRESULT hr = connection().Call(request, HrOnly());
  if (SUCCEEDED(hr)) {
    buffered_.clear();
    ended_ = false;
  }
  return hr;
}

HRESULT EnumStringProxy::Clone(IEnumString** ppEnum) {
  if (!ppEnum) return E_POINTER;
  *ppEnum = nullptr;
  auto request = cap().stringCloneRequest();
  HRESULT hr = connection().Call(request, [&](auto answer) {
    return TakeObject(answer.getHr(), answer.hasEnumerator(), answer.getEnumerator(),
                      IID_IEnumString, reinterpret_cast<void**>(ppEnum));
  });
  // The server's clone stands where the server's enumerator stands, past
  // what is buffered here: the clone starts with the same buffer. (Its
  // IEnumString is an EnumStringProxy: ProxyObject answers with one.)
  if (*ppEnum) {
    auto* clone = static_cast<EnumStringProxy*>(*ppEnum);
    clone->buffered_ = buffered_;
    clone->ended_ = ended_;
  }
  return hr;
}

}  // namespace tagwell::rpc
