#include "dcom/opc/OpcNdr.h"

#include "dcom/NdrOaut.h"
#include "platform/com/Memory.h"
#include "platform/com/Text.h"

namespace tagwell::dcom::opc {

using namespace com;

namespace {

// Bytes each structure takes in its array, before its pointees.
constexpr std::size_t kItemDefSize = 28;
constexpr std::size_t kItemResultSize = 20;
constexpr std::size_t kItemStateSize = 20;
constexpr std::size_t kItemAttributesSize = 44;

void WriteBlob(NdrWriter& w, const BYTE* blob, DWORD size) {
  w.Conformance(size);
  w.Raw(blob, size);
}

std::vector<std::uint8_t> ReadBlob(NdrReader& r, DWORD size) {
  std::uint32_t n = r.Conformance(1);
  if (n != size) r.Fail();
  return r.Elements<std::uint8_t>(n);
}

BYTE* TaskBlob(const std::vector<std::uint8_t>& bytes) {
  if (bytes.empty()) return nullptr;
  auto block = static_cast<BYTE*>(CoTaskMemAlloc(bytes.size()));
  if (block) std::memcpy(block, bytes.data(), bytes.size());
  return block;
}

LPWSTR TaskString(const std::u16string& text) {
  return CoTaskMemStrDup(text.c_str());
}

template <class T>
T* TaskArray(std::uint32_t n) {
  std::size_t bytes = n == 0 ? 1 : n * sizeof(T);
  auto block = static_cast<T*>(CoTaskMemAlloc(bytes));
  if (block) std::memset(static_cast<void*>(block), 0, bytes);
  return block;
}

// The conformance of an [out] array whose length the caller knows.
std::uint32_t ReadCount(NdrReader& r, std::size_t size, std::uint32_t expected) {
  std::uint32_t n = r.Conformance(size);
  if (expected != kAnyCount && n != expected) r.Fail();
  return r.ok() ? n : 0;
}

}  // namespace

// --- OPCITEMDEF ------------------------------------------------------------------
void ItemDefs::Read(NdrReader& r, std::uint32_t count) {
  std::uint32_t n = r.Conformance(kItemDefSize);
  if (!r.ok() || n != count) {
    r.Fail();
    return;
  }
  struct Pointers {
    std::uint32_t path, id, blob;
  };
  std::vector<Pointers> pointers(n);
  defs_.assign(n, OPCITEMDEF{});
  for (std::uint32_t i = 0; i < n && r.ok(); ++i) {
    pointers[i].path = r.Pointer();
    pointers[i].id = r.Pointer();
    defs_[i].bActive = r.I32();
    defs_[i].hClient = r.U32();
    defs_[i].dwBlobSize = r.U32();
    pointers[i].blob = r.Pointer();
    defs_[i].vtRequestedDataType = r.U16();
    defs_[i].wReserved = r.U16();
  }
  // Strings first, all of them, so that the storage does not move after
  // the definitions point into it.
  strings_.reserve(2 * n);
  blobs_.reserve(n);
  for (std::uint32_t i = 0; i < n && r.ok(); ++i) {
    strings_.push_back(pointers[i].path ? r.WideString() : std::u16string());
    strings_.push_back(pointers[i].id ? r.WideString() : std::u16string());
    blobs_.push_back(pointers[i].blob ? ReadBlob(r, defs_[i].dwBlobSize)
                                      : std::vector<std::uint8_t>{});
    if (!pointers[i].blob) defs_[i].dwBlobSize = 0;
  }
  if (!r.ok()) {
    defs_.clear();
    return;
  }
  for (std::uint32_t i = 0; i < n; ++i) {
    defs_[i].szAccessPath = pointers[i].path ? strings_[2 * i].data() : nullptr;
    defs_[i].szItemID = pointers[i].id ? strings_[2 * i + 1].data() : nullptr;
    defs_[i].pBlob = blobs_[i].empty() ? nullptr : blobs_[i].data();
  }
}

void WriteItemDefs(NdrWriter& w, const OPCITEMDEF* defs, std::uint32_t count) {
  w.Conformance(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    const OPCITEMDEF& d = defs[i];
    w.Pointer(d.szAccessPath != nullptr);
    w.Pointer(d.szItemID != nullptr);
    w.I32(d.bActive);
    w.U32(d.hClient);
    w.U32(d.pBlob ? d.dwBlobSize : 0);
    w.Pointer(d.pBlob != nullptr && d.dwBlobSize);
    w.U16(d.vtRequestedDataType);
    w.U16(d.wReserved);
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    const OPCITEMDEF& d = defs[i];
    if (d.szAccessPath) w.WideString(WideView(d.szAccessPath));
    if (d.szItemID) w.WideString(WideView(d.szItemID));
    if (d.pBlob && d.dwBlobSize) WriteBlob(w, d.pBlob, d.dwBlobSize);
  }
}

// --- OPCITEMRESULT ----------------------------------------------------------------
void WriteItemResults(NdrWriter& w, const OPCITEMRESULT* results, std::uint32_t count) {
  if (!w.Pointer(results != nullptr)) return;
  w.Conformance(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    const OPCITEMRESULT& r = results[i];
    w.U32(r.hServer);
    w.U16(r.vtCanonicalDataType);
    w.U16(r.wReserved);
    w.U32(r.dwAccessRights);
    w.U32(r.pBlob ? r.dwBlobSize : 0);
    w.Pointer(r.pBlob != nullptr && r.dwBlobSize);
  }
  for (std::uint32_t i = 0; i < count; ++i)
    if (results[i].pBlob && results[i].dwBlobSize)
      WriteBlob(w, results[i].pBlob, results[i].dwBlobSize);
}

OPCITEMRESULT* ReadItemResults(NdrReader& r, std::uint32_t expected) {
  if (!r.Pointer()) return nullptr;
  std::uint32_t n = ReadCount(r, kItemResultSize, expected);
  std::vector<OPCITEMRESULT> items(n);
  std::vector<std::uint32_t> blobs(n);
  for (std::uint32_t i = 0; i < n && r.ok(); ++i) {
    items[i].hServer = r.U32();
    items[i].vtCanonicalDataType = r.U16();
    items[i].wReserved = r.U16();
    items[i].dwAccessRights = r.U32();
    items[i].dwBlobSize = r.U32();
    blobs[i] = r.Pointer();
  }
  std::vector<std::vector<std::uint8_t>> bytes(n);
  for (std::uint32_t i = 0; i < n && r.ok(); ++i)
    if (blobs[i]) bytes[i] = ReadBlob(r, items[i].dwBlobSize);
  if (!r.ok()) return nullptr;
  auto* out = TaskArray<OPCITEMRESULT>(n);
  for (std::uint32_t i = 0; out && i < n; ++i) {
    out[i] = items[i];
    out[i].pBlob = TaskBlob(bytes[i]);
    if (!out[i].pBlob) out[i].dwBlobSize = 0;
  }
  return out;
}

// --- OPCITEMSTATE -----------------------------------------------------------------
HRESULT WriteItemStates(NdrWriter& w, const OPCITEMSTATE* states, std::uint32_t count) {
  if (!states) {
    w.Pointer(false);
    return S_OK;
  }
  for (std::uint32_t i = 0; i < count; ++i)
    if (!WireVariantType(states[i].vDataValue.vt)) return DISP_E_BADVARTYPE;
  w.Pointer(true);
  w.Conformance(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    const OPCITEMSTATE& s = states[i];
    w.U32(s.hClient);
    WriteFiletime(w, s.ftTimeStamp);
    w.U16(s.wQuality);
    w.U16(s.wReserved);
    w.Pointer(true);
  }
  for (std::uint32_t i = 0; i < count; ++i) WriteVariantBody(w, states[i].vDataValue);
  return S_OK;
}

OPCITEMSTATE* ReadItemStates(NdrReader& r, std::uint32_t expected) {
  if (!r.Pointer()) return nullptr;
  std::uint32_t n = ReadCount(r, kItemStateSize, expected);
  auto* out = r.ok() ? TaskArray<OPCITEMSTATE>(n) : nullptr;
  if (!out) return nullptr;
  std::vector<std::uint32_t> values(n);
  for (std::uint32_t i = 0; i < n && r.ok(); ++i) {
    out[i].hClient = r.U32();
    out[i].ftTimeStamp = ReadFiletime(r);
    out[i].wQuality = r.U16();
    out[i].wReserved = r.U16();
    values[i] = r.Pointer();
    VariantInit(&out[i].vDataValue);
  }
  for (std::uint32_t i = 0; i < n && r.ok(); ++i)
    if (values[i]) ReadVariantBody(r, &out[i].vDataValue);
  if (!r.ok()) {
    FreeItemStates(out, n);
    return nullptr;
  }
  return out;
}

// --- OPCITEMATTRIBUTES ------------------------------------------------------------
HRESULT WriteItemAttributes(NdrWriter& w, const OPCITEMATTRIBUTES* records, std::uint32_t count) {
  if (!records) {
    w.Pointer(false);
    return S_OK;
  }
  for (std::uint32_t i = 0; i < count; ++i)
    if (!WireVariantType(records[i].vEUInfo.vt)) return DISP_E_BADVARTYPE;
  w.Pointer(true);
  w.Conformance(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    const OPCITEMATTRIBUTES& a = records[i];
    w.Pointer(a.szAccessPath != nullptr);
    w.Pointer(a.szItemID != nullptr);
    w.I32(a.bActive);
    w.U32(a.hClient);
    w.U32(a.hServer);
    w.U32(a.dwAccessRights);
    w.U32(a.pBlob ? a.dwBlobSize : 0);
    w.Pointer(a.pBlob != nullptr && a.dwBlobSize);
    w.U16(a.vtRequestedDataType);
    w.U16(a.vtCanonicalDataType);
    w.U16(static_cast<std::uint16_t>(a.dwEUType));
    w.Pointer(true);
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    const OPCITEMATTRIBUTES& a = records[i];
    if (a.szAccessPath) w.WideString(WideView(a.szAccessPath));
    if (a.szItemID) w.WideString(WideView(a.szItemID));
    if (a.pBlob && a.dwBlobSize) WriteBlob(w, a.pBlob, a.dwBlobSize);
    WriteVariantBody(w, a.vEUInfo);
  }
  return S_OK;
}

OPCITEMATTRIBUTES* ReadItemAttributes(NdrReader& r, std::uint32_t expected, std::uint32_t* count) {
  *count = 0;
  if (!r.Pointer()) return nullptr;
  std::uint32_t n = ReadCount(r, kItemAttributesSize, expected);
  auto* out = r.ok() ? TaskArray<OPCITEMATTRIBUTES>(n) : nullptr;
  if (!out) return nullptr;
  struct Pointers {
    std::uint32_t path, id, blob, value;
  };
  std::vector<Pointers> p(n);
  for (std::uint32_t i = 0; i < n && r.ok(); ++i) {
    OPCITEMATTRIBUTES& a = out[i];
    VariantInit(&a.vEUInfo);
    p[i].path = r.Pointer();
    p[i].id = r.Pointer();
    a.bActive = r.I32();
    a.hClient = r.U32();
    a.hServer = r.U32();
    a.dwAccessRights = r.U32();
    a.dwBlobSize = r.U32();
    p[i].blob = r.Pointer();
    a.vtRequestedDataType = r.U16();
    a.vtCanonicalDataType = r.U16();
    a.dwEUType = static_cast<OPCEUTYPE>(r.U16());
    p[i].value = r.Pointer();
  }
  for (std::uint32_t i = 0; i < n && r.ok(); ++i) {
    OPCITEMATTRIBUTES& a = out[i];
    if (p[i].path) a.szAccessPath = TaskString(r.WideString());
    if (p[i].id) a.szItemID = TaskString(r.WideString());
    if (p[i].blob) a.pBlob = TaskBlob(ReadBlob(r, a.dwBlobSize));
    if (!a.pBlob) a.dwBlobSize = 0;
    if (p[i].value) ReadVariantBody(r, &a.vEUInfo);
  }
  if (!r.ok()) {
    FreeItemAttributes(out, n);
    return nullptr;
  }
  *count = n;
  return out;
}

// --- OPCSERVERSTATUS --------------------------------------------------------------
void WriteServerStatus(NdrWriter& w, const OPCSERVERSTATUS* status) {
  if (!w.Pointer(status != nullptr)) return;
  const OPCSERVERSTATUS& s = *status;
  WriteFiletime(w, s.ftStartTime);
  WriteFiletime(w, s.ftCurrentTime);
  WriteFiletime(w, s.ftLastUpdateTime);
  w.U16(static_cast<std::uint16_t>(s.dwServerState));
  w.U32(s.dwGroupCount);
  w.U32(s.dwBandWidth);
  w.U16(s.wMajorVersion);
  w.U16(s.wMinorVersion);
  w.U16(s.wBuildNumber);
  w.U16(s.wReserved);
  if (w.Pointer(s.szVendorInfo != nullptr)) w.WideString(WideView(s.szVendorInfo));
}

OPCSERVERSTATUS* ReadServerStatus(NdrReader& r) {
  if (!r.Pointer()) return nullptr;
  OPCSERVERSTATUS s{};
  s.ftStartTime = ReadFiletime(r);
  s.ftCurrentTime = ReadFiletime(r);
  s.ftLastUpdateTime = ReadFiletime(r);
  s.dwServerState = static_cast<OPCSERVERSTATE>(r.U16());
  s.dwGroupCount = r.U32();
  s.dwBandWidth = r.U32();
  s.wMajorVersion = r.U16();
  s.wMinorVersion = r.U16();
  s.wBuildNumber = r.U16();
  s.wReserved = r.U16();
  std::u16string vendor;
  bool hasVendor = r.Pointer() != 0;
  if (hasVendor) vendor = r.WideString();
  if (!r.ok()) return nullptr;
  auto* out = TaskArray<OPCSERVERSTATUS>(1);
  if (!out) return nullptr;
  *out = s;
  if (hasVendor) out->szVendorInfo = TaskString(vendor);
  return out;
}

HRESULT* ReadErrors(NdrReader& r, std::uint32_t expected) {
  if (!r.Pointer()) return nullptr;
  std::uint32_t n = ReadCount(r, 4, expected);
  auto values = r.Elements<std::uint32_t>(n);
  if (!r.ok()) return nullptr;
  auto* out = TaskArray<HRESULT>(n);
  for (std::uint32_t i = 0; out && i < n; ++i) out[i] = static_cast<HRESULT>(values[i]);
  return out;
}

// --- Freeing ------------------------------------------------------------------------
void FreeItemResults(OPCITEMRESULT* results, std::uint32_t count) {
  for (std::uint32_t i = 0; results && i < count; ++i) CoTaskMemFree(results[i].pBlob);
  CoTaskMemFree(results);
}

void FreeItemStates(OPCITEMSTATE* states, std::uint32_t count) {
  for (std::uint32_t i = 0; states && i < count; ++i) VariantClear(&states[i].vDataValue);
  CoTaskMemFree(states);
}

void FreeItemAttributes(OPCITEMATTRIBUTES* records, std::uint32_t count) {
  for (std::uint32_t i = 0; records && i < count; ++i) {
    CoTaskMemFree(records[i].szAccessPath);
    CoTaskMemFree(records[i].szItemID);
    CoTaskMemFree(records[i].pBlob);
    VariantClear(&records[i].vEUInfo);
  }
  CoTaskMemFree(records);
}

void FreeServerStatus(OPCSERVERSTATUS* status) {
  if (status) CoTaskMemFree(status->szVendorInfo);
  CoTaskMemFree(status);
}

}  // namespace tagwell::dcom::opc
