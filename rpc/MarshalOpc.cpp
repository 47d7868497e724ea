// Wire conversions of the OPC structures.
#include <cstring>

#include "rpc/Marshal.h"

namespace tagwell::rpc {

using namespace com;

namespace {

capnp::Data::Reader BlobView(const BYTE* blob, DWORD size) {
  return capnp::Data::Reader(blob, blob ? size : 0);
}

// A task-allocator copy of a received blob; null when absent.
HRESULT TaskBlobFromWire(bool present, capnp::Data::Reader bytes, BYTE** blob, DWORD* size) {
  *blob = nullptr;
  *size = 0;
  if (!present || bytes.size() == 0) return S_OK;
  if (bytes.size() > 0xFFFFFFFFu) return RPC_E_INVALID_DATA;
  *blob = static_cast<BYTE*>(CoTaskMemAlloc(bytes.size()));
  if (!*blob) return E_OUTOFMEMORY;
  std::memcpy(*blob, bytes.begin(), bytes.size());
  *size = static_cast<DWORD>(bytes.size());
  return S_OK;
}

}  // namespace

void TextsToWire(const LPWSTR* texts, capnp::List<wire::OptionalText>::Builder out) {
  for (unsigned i = 0; i < out.size(); ++i)
    if (texts[i]) out[i].setText(WideToWire(texts[i]));
}

HRESULT TextsFromWire(capnp::List<wire::OptionalText>::Reader list, std::size_t count,
                      LPWSTR** out) {
  *out = nullptr;
  if (list.size() != count) return RPC_E_INVALID_DATA;
  TaskArray<LPWSTR> texts(count);
  if (!texts.ok()) return E_OUTOFMEMORY;
  for (std::size_t i = 0; i < count; ++i) {
    HRESULT hr = TaskWideFromWire(list[i].hasText(), list[i].getText(), &texts[i]);
    if (FAILED(hr)) return hr;
  }
  *out = texts.Release();
  return S_OK;
}

HRESULT VariantsToWire(const VARIANT* values, capnp::List<wire::Variant>::Builder out) {
  for (unsigned i = 0; i < out.size(); ++i) {
    HRESULT hr = VariantToWire(values[i], out[i]);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT VariantsFromWire(capnp::List<wire::Variant>::Reader list, std::size_t count,
                         VARIANT** out) {
  *out = nullptr;
  if (list.size() != count) return RPC_E_INVALID_DATA;
  TaskArray<VARIANT> values(count);
  if (!values.ok()) return E_OUTOFMEMORY;
  for (std::size_t i = 0; i < count; ++i) {
    HRESULT hr = VariantFromWire(list[i], &values[i]);
    if (FAILED(hr)) return hr;
  }
  *out = values.Release();
  return S_OK;
}

HRESULT StatusToWire(const OPCSERVERSTATUS& status, wire::ServerStatus::Builder out) {
  out.setStartTime(FileTimeToWire(status.ftStartTime));
  out.setCurrentTime(FileTimeToWire(status.ftCurrentTime));
  out.setLastUpdateTime(FileTimeToWire(status.ftLastUpdateTime));
  out.setServerState(status.dwServerState);
  out.setGroupCount(status.dwGroupCount);
  out.setBandWidth(status.dwBandWidth);
  out.setMajorVersion(status.wMajorVersion);
  out.setMinorVersion(status.wMinorVersion);
  out.setBuildNumber(status.wBuildNumber);
  out.setReserved(status.wReserved);
  if (status.szVendorInfo) out.setVendorInfo(WideToWire(status.szVendorInfo));
  return S_OK;
}

HRESULT StatusFromWire(wire::ServerStatus::Reader in, OPCSERVERSTATUS** out) {
  *out = nullptr;
  // The vendor text is read before the status block is allocated: a
  // malformed pointer throws from the reader, and the block would be lost.
  LPWSTR vendor = nullptr;
  HRESULT hr = TaskWideFromWire(in.hasVendorInfo(), in.getVendorInfo(), &vendor);
  if (FAILED(hr)) return hr;
  auto* status = static_cast<OPCSERVERSTATUS*>(CoTaskMemAlloc(sizeof(OPCSERVERSTATUS)));
  if (!status) {
    CoTaskMemFree(vendor);
    return E_OUTOFMEMORY;
  }
  std::memset(status, 0, sizeof *status);
  status->szVendorInfo = vendor;
  status->ftStartTime = FileTimeFromWire(in.getStartTime());
  status->ftCurrentTime = FileTimeFromWire(in.getCurrentTime());
  status->ftLastUpdateTime = FileTimeFromWire(in.getLastUpdateTime());
  status->dwServerState = static_cast<OPCSERVERSTATE>(in.getServerState());
  status->dwGroupCount = in.getGroupCount();
  status->dwBandWidth = in.getBandWidth();
  status->wMajorVersion = in.getMajorVersion();
  status->wMinorVersion = in.getMinorVersion();
  status->wBuildNumber = in.getBuildNumber();
  status->wReserved = in.getReserved();
  *out = status;
  return S_OK;
}

void ItemDefToWire(const OPCITEMDEF& def, wire::ItemDef::Builder out) {
  if (def.szAccessPath) out.setAccessPath(WideToWire(def.szAccessPath));
  if (def.szItemID) out.setItemId(WideToWire(def.szItemID));
  out.setActive(def.bActive);
  out.setClientHandle(def.hClient);
  if (def.pBlob) out.setBlob(BlobView(def.pBlob, def.dwBlobSize));
  out.setRequestedDataType(def.vtRequestedDataType);
  out.setReserved(def.wReserved);
}

HRESULT ItemDefArgs::Assign(capnp::List<wire::ItemDef>::Reader list) {
  std::size_t count = list.size();
  // Entries that take no room in the message (a list of empty structs) cost
  // the sender nothing and the receiver an item each, millions of them in a
  // few bytes: such a list is refused. An entry of any size needs its room,
  // so a real list's length is bounded by the message.
  if (count > 0) {
    capnp::AnyStruct::Reader first(list[0]);
    if (first.getDataSection().size() == 0 && first.getPointerSection().size() == 0)
      return RPC_E_INVALID_DATA;
  }
  defs_.assign(count, OPCITEMDEF{});
  accessPaths_.assign(count, WideArg{});
  itemIds_.assign(count, WideArg{});
  for (std::size_t i = 0; i < count; ++i) {
    auto in = list[i];
    OPCITEMDEF& def = defs_[i];
    if (!accessPaths_[i].Assign(in.hasAccessPath(), in.getAccessPath()) ||
        !itemIds_[i].Assign(in.hasItemId(), in.getItemId()))
      return RPC_E_INVALID_DATA;
    def.szAccessPath = accessPaths_[i].get();
    def.szItemID = itemIds_[i].get();
    def.bActive = in.getActive();
    def.hClient = in.getClientHandle();
    if (in.hasBlob()) {
      auto blob = in.getBlob();
      if (blob.size() > 0xFFFFFFFFu) return RPC_E_INVALID_DATA;
      // Points into the request message, which outlives the COM call.
      def.pBlob = const_cast<BYTE*>(blob.begin());
      def.dwBlobSize = static_cast<DWORD>(blob.size());
    }
    def.vtRequestedDataType = in.getRequestedDataType();
    def.wReserved = in.getReserved();
  }
  return S_OK;
}

void ItemResultToWire(const OPCITEMRESULT& result, wire::ItemResult::Builder out) {
  out.setServerHandle(result.hServer);
  out.setCanonicalDataType(result.vtCanonicalDataType);
  out.setReserved(result.wReserved);
  out.setAccessRights(result.dwAccessRights);
  if (result.pBlob) out.setBlob(BlobView(result.pBlob, result.dwBlobSize));
}

HRESULT ItemResultsFromWire(capnp::List<wire::ItemResult>::Reader list, std::size_t count,
                            OPCITEMRESULT** out) {
  *out = nullptr;
  if (list.size() != count) return RPC_E_INVALID_DATA;
  TaskArray<OPCITEMRESULT> results(count);
  if (!results.ok()) return E_OUTOFMEMORY;
  for (std::size_t i = 0; i < count; ++i) {
    auto in = list[i];
    OPCITEMRESULT& result = results[i];
    result.hServer = in.getServerHandle();
    result.vtCanonicalDataType = in.getCanonicalDataType();
    result.wReserved = in.getReserved();
    result.dwAccessRights = in.getAccessRights();
    HRESULT hr = TaskBlobFromWire(in.hasBlob(), in.getBlob(), &result.pBlob, &result.dwBlobSize);
    if (FAILED(hr)) return hr;
  }
  *out = results.Release();
  return S_OK;
}

HRESULT ItemStateToWire(const OPCITEMSTATE& state, wire::ItemState::Builder out) {
  out.setClientHandle(state.hClient);
  out.setTimeStamp(FileTimeToWire(state.ftTimeStamp));
  out.setQuality(state.wQuality);
  out.setReserved(state.wReserved);
  return VariantToWire(state.vDataValue, out.initValue());
}

HRESULT ItemStatesFromWire(capnp::List<wire::ItemState>::Reader list, std::size_t count,
                           OPCITEMSTATE** out) {
  *out = nullptr;
  if (list.size() != count) return RPC_E_INVALID_DATA;
  TaskArray<OPCITEMSTATE> states(count);
  if (!states.ok()) return E_OUTOFMEMORY;
  for (std::size_t i = 0; i < count; ++i) {
    auto in = list[i];
    OPCITEMSTATE& state = states[i];
    state.hClient = in.getClientHandle();
    state.ftTimeStamp = FileTimeFromWire(in.getTimeStamp());
    state.wQuality = in.getQuality();
    state.wReserved = in.getReserved();
    HRESULT hr = VariantFromWire(in.getValue(), &state.vDataValue);
    if (FAILED(hr)) return hr;
  }
  *out = states.Release();
  return S_OK;
}

HRESULT AttributesToWire(const OPCITEMATTRIBUTES& item, wire::ItemAttributes::Builder out) {
  if (item.szAccessPath) out.setAccessPath(WideToWire(item.szAccessPath));
  if (item.szItemID) out.setItemId(WideToWire(item.szItemID));
  out.setActive(item.bActive);
  out.setClientHandle(item.hClient);
  out.setServerHandle(item.hServer);
  out.setAccessRights(item.dwAccessRights);
  if (item.pBlob) out.setBlob(BlobView(item.pBlob, item.dwBlobSize));
  out.setRequestedDataType(item.vtRequestedDataType);
  out.setCanonicalDataType(item.vtCanonicalDataType);
  out.setEuType(item.dwEUType);
  return VariantToWire(item.vEUInfo, out.initEuInfo());
}

HRESULT AttributesFromWire(capnp::List<wire::ItemAttributes>::Reader list,
                           OPCITEMATTRIBUTES** out) {
  *out = nullptr;
  std::size_t count = list.size();
  if (count == 0) return S_OK;
  TaskArray<OPCITEMATTRIBUTES> items(count);
  if (!items.ok()) return E_OUTOFMEMORY;
  for (std::size_t i = 0; i < count; ++i) {
    auto in = list[i];
    OPCITEMATTRIBUTES& item = items[i];
    HRESULT hr = TaskWideFromWire(in.hasAccessPath(), in.getAccessPath(), &item.szAccessPath);
    if (SUCCEEDED(hr)) hr = TaskWideFromWire(in.hasItemId(), in.getItemId(), &item.szItemID);
    if (SUCCEEDED(hr))
      hr = TaskBlobFromWire(in.hasBlob(), in.getBlob(), &item.pBlob, &item.dwBlobSize);
    if (SUCCEEDED(hr)) hr = VariantFromWire(in.getEuInfo(), &item.vEUInfo);
    if (FAILED(hr)) return hr;
    item.bActive = in.getActive();
    item.hClient = in.getClientHandle();
    item.hServer = in.getServerHandle();
    item.dwAccessRights = in.getAccessRights();
    item.vtRequestedDataType = in.getRequestedDataType();
    item.vtCanonicalDataType = in.getCanonicalDataType();
    item.dwEUType = static_cast<OPCEUTYPE>(in.getEuType());
  }
  *out = items.Release();
  return S_OK;
}

}  // namespace tagwell::rpc
