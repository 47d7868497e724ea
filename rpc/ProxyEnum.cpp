// Proxies of the enumerators IEnumUnknown and IEnumOPCItemAttributes.
#include "rpc/Marshal.h"
#include "rpc/ProxyInterfaces.h"

namespace tagwell::rpc {

using namespace com;

namespace {

// Next(celt) of an IUnknown enumerator in calls of at most
// kMaxEnumBatch entries. `batch(n, out, &fetched, wantFetched)` fetches one
// call's worth. On failure every entry already fetched is freed again.
template <class T, class Batch, class Free>
HRESULT NextInBatches(ULONG celt, T* rgelt, ULONG* pceltFetched, Batch&& batch, Free&& free) {
  if (!rgelt) return E_POINTER;
  if (celt <= kMaxEnumBatch) {
    ULONG fetched = 0;
    HRESULT hr = batch(celt, rgelt, &fetched, pceltFetched != nullptr);
    if (pceltFetched) *pceltFetched = fetched;
    return hr;
  }
  // The COM rule: only a request for one entry may omit the count.
  if (!pceltFetched) return E_INVALIDARG;
  ULONG total = 0;
  HRESULT hr = S_OK;
  while (total < celt) {
    ULONG fetched = 0;
    hr = batch(std::min(kMaxEnumBatch, celt - total), rgelt + total, &fetched, true);
    if (FAILED(hr)) {
      for (ULONG i = 0; i < total; ++i) free(rgelt[i]);
      *pceltFetched = 0;
      return hr;
    }
    total += fetched;
    if (hr != S_OK) break;
  }
  *pceltFetched = total;
  return total == celt ? S_OK : S_FALSE;
}

}  // namespace

// --- IEnumUnknown ----------------------------------------------------------------
HRESULT EnumUnknownProxy::Next(ULONG celt, IUnknown** rgelt, ULONG* pceltFetched) {
  return NextInBatches(
      celt, rgelt, pceltFetched,
      [this](ULONG n, IUnknown** out, ULONG* fetched, bool want) {
        return NextBatch(n, out, fetched, want);
      },
      [](IUnknown*& object) { std::exchange(object, nullptr)->Release(); });
}

HRESULT EnumUnknownProxy::NextBatch(ULONG celt, IUnknown** rgelt, ULONG* fetched,
                                    bool wantFetched) {
  auto request = cap().unknownNextRequest();
  request.setCount(celt);
  request.setWantFetched(wantFetched);
  return connection().Call(request, [&](auto answer) {
    auto items = answer.getItems();
    if (items.size() > celt) return RPC_E_INVALID_DATA;
    std::vector<ComPtr<IUnknown>> objects;
    objects.reserve(items.size());
    for (auto item : items) {
      objects.push_back(ProxyObject::Create(owner_.sharedConnection(), item));
      if (!objects.back()) return RPC_E_INVALID_DATA;
    }
    for (std::size_t i = 0; i < objects.size(); ++i) rgelt[i] = objects[i].Detach();
    *fetched = items.size();
    return HRESULT{answer.getHr()};
  });
}

HRESULT EnumUnknownProxy::Skip(ULONG celt) {
  auto request = cap().unknownSkipRequest();
  request.setCount(celt);
  return connection().Call(request, HrOnly());
}

HRESULT EnumUnknownProxy::Reset() {
  auto request = cap().unknownResetRequest();
  return connection().Call(request, HrOnly());
}

HRESULT EnumUnknownProxy::Clone(IEnumUnknown** ppEnum) {
  if (!ppEnum) return E_POINTER;
  *ppEnum = nullptr;
  auto request = cap().unknownCloneRequest();
  return connection().Call(request, [&](auto answer) {
    return TakeObject(answer.getHr(), answer.hasEnumerator(), answer.getEnumerator(),
                      IID_IEnumUnknown, reinterpret_cast<void**>(ppEnum));
  });
}

// --- IEnumOPCItemAttributes ----------------------------------------------------
HRESULT EnumAttributesProxy::Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray,
                                  ULONG* pceltFetched) {
  if (!ppItemArray) return E_POINTER;
  *ppItemArray = nullptr;
  if (pceltFetched) *pceltFetched = 0;
  auto request = cap().attributesNextRequest();
  request.setCount(celt);
  return connection().Call(request, [&](auto answer) {
    auto items = answer.getItems();
    if (items.size() > celt) return RPC_E_INVALID_DATA;
    HRESULT hr = AttributesFromWire(items, ppItemArray);
    if (FAILED(hr)) return hr;
    if (pceltFetched) *pceltFetched = items.size();
    return HRESULT{answer.getHr()};
  });
}

HRESULT EnumAttributesProxy::Skip(ULONG celt) {
  auto request = cap().attributesSkipRequest();
  request.setCount(celt);
  return connection().Call(request, HrOnly());
}

HRESULT EnumAttributesProxy::Reset() {
  auto request = cap().attributesResetRequest();
  return connection().Call(request, HrOnly());
}

HRESULT EnumAttributesProxy::Clone(IEnumOPCItemAttributes** ppEnumItemAttributes) {
  if (!ppEnumItemAttributes) return E_POINTER;
  *ppEnumItemAttributes = nullptr;
  auto request = cap().attributesCloneRequest();
  return connection().Call(request, [&](auto answer) {
    return TakeObject(answer.getHr(), answer.hasEnumerator(), answer.getEnumerator(),
                      IID_IEnumOPCItemAttributes, reinterpret_cast<void**>(ppEnumItemAttributes));
  });
}

}  // namespace tagwell::rpc
