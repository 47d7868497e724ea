#include "rpc/Marshal.h"

#include <bit>
#include <cstring>
#include <limits>

namespace tagwell::rpc {

using namespace com;

// Wide strings and array elements travel in the host's layout.
static_assert(std::endian::native == std::endian::little, "the wire layout is little-endian");

namespace {

enum class Storage { kNone, kSigned, kUnsigned, kReal4, kReal8, kBstr, kArray, kInvalid };

}  // namespace

unsigned PlainSize(VARTYPE element) {
  return PlainValueSize(element);
}

namespace {

bool ArrayElementTravels(VARTYPE element) {
  return element == VT_BSTR || PlainSize(element) != 0;
}

Storage StorageOf(VARTYPE vt) {
  if (vt & VT_BYREF) return Storage::kInvalid;
  if (vt & VT_ARRAY) {
    return (vt & ~(VT_ARRAY | VT_TYPEMASK)) == 0 && ArrayElementTravels(vt & VT_TYPEMASK)
               ? Storage::kArray
               : Storage::kInvalid;
  }
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
      return Storage::kNone;
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_I8:
    case VT_INT:
    case VT_BOOL:
    case VT_ERROR:
    case VT_CY:
      return Storage::kSigned;
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_UI8:
    case VT_UINT:
      return Storage::kUnsigned;
    case VT_R4:
      return Storage::kReal4;
    case VT_R8:
    case VT_DATE:
      return Storage::kReal8;
    case VT_BSTR:
      return Storage::kBstr;
    default:
      return Storage::kInvalid;
  }
}

std::int64_t SignedValue(const VARIANT& v) {
  switch (v.vt) {
    case VT_I1:
      return static_cast<signed char>(v.cVal);
    case VT_I2:
      return v.iVal;
    case VT_BOOL:
      return v.boolVal;
    case VT_I4:
      return v.lVal;
    case VT_INT:
      return v.intVal;
    case VT_ERROR:
      return v.scode;
    default:
      return v.llVal;  // VT_I8, VT_CY
  }
}

std::uint64_t UnsignedValue(const VARIANT& v) {
  switch (v.vt) {
    case VT_UI1:
      return v.bVal;
    case VT_UI2:
      return v.uiVal;
    case VT_UI4:
      return v.ulVal;
    case VT_UINT:
      return v.uintVal;
    default:
      return v.ullVal;  // VT_UI8
  }
}

template <class T>
bool Fits(std::int64_t x) {
  return x >= std::numeric_limits<T>::min() && x <= std::numeric_limits<T>::max();
}

// Stores a signed wire value into the member vt selects; false when it does
// not fit that member.
bool SetSigned(VARTYPE vt, std::int64_t x, VARIANT* out) {
  switch (vt) {
    case VT_I1:
      if (!Fits<signed char>(x)) return false;
      out->cVal = static_cast<CHAR>(x);
      return true;
    case VT_I2:
    case VT_BOOL:
      if (!Fits<SHORT>(x)) return false;
      out->iVal = static_cast<SHORT>(x);
      return true;
    case VT_I4:
    case VT_INT:
    case VT_ERROR:
      if (!Fits<LONG>(x)) return false;
      out->lVal = static_cast<LONG>(x);
      return true;
    default:
      out->llVal = x;
      return true;
  }
}

bool SetUnsigned(VARTYPE vt, std::uint64_t x, VARIANT* out) {
  switch (vt) {
    case VT_UI1:
      if (x > 0xFF) return false;
      out->bVal = static_cast<BYTE>(x);
      return true;
    case VT_UI2:
      if (x > 0xFFFF) return false;
      out->uiVal = static_cast<USHORT>(x);
      return true;
    case VT_UI4:
    case VT_UINT:
      if (x > 0xFFFFFFFFu) return false;
      out->ulVal = static_cast<ULONG>(x);
      return true;
    default:
      out->ullVal = x;
      return true;
  }
}

capnp::Data::Reader BstrBytes(BSTR text) {
  return capnp::Data::Reader(reinterpret_cast<const capnp::byte*>(text),
                             SysStringLen(text) * sizeof(WCHAR));
}

// A BSTR of the UTF-16 units in bytes; null when they are malformed or
// memory is short (*hr says which).
BSTR BstrFromWire(capnp::Data::Reader bytes, HRESULT* hr) {
  if (bytes.size() % sizeof(WCHAR) != 0 ||
      bytes.size() / sizeof(WCHAR) > std::numeric_limits<UINT>::max() / sizeof(WCHAR)) {
    *hr = RPC_E_INVALID_DATA;
    return nullptr;
  }
  BSTR text = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(bytes.begin()),
                                static_cast<UINT>(bytes.size() / sizeof(WCHAR)));
  *hr = text ? S_OK : E_OUTOFMEMORY;
  return text;
}

HRESULT StringArrayToWire(SAFEARRAY* array, wire::SafeArray::Builder out) {
  if (array->cDims != 1 || array->cbElements != sizeof(BSTR)) return DISP_E_BADVARTYPE;
  ULONG count = array->rgsabound[0].cElements;
  if (count != 0 && !array->pvData) return DISP_E_BADVARTYPE;
  out.setElementType(VT_BSTR);
  out.setLowerBound(array->rgsabound[0].lLbound);
  out.setElementSize(sizeof(BSTR));
  auto strings = out.initStrings(count);
  auto* elements = static_cast<BSTR*>(array->pvData);
  for (ULONG i = 0; i < count; ++i)
    if (elements[i]) strings[i].setText(BstrBytes(elements[i]));
  return S_OK;
}

HRESULT StringArrayFromWire(wire::SafeArray::Reader in, SAFEARRAY** out) {
  auto strings = in.getStrings();
  if (in.getElementType() != VT_BSTR || in.getElementSize() != sizeof(BSTR))
    return RPC_E_INVALID_DATA;
  SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, in.getLowerBound(), strings.size());
  if (!array) return DISP_E_BADVARTYPE;
  auto* elements = static_cast<BSTR*>(array->pvData);
  for (unsigned i = 0; i < strings.size(); ++i) {
    if (!strings[i].hasText()) continue;
    HRESULT hr = S_OK;
    // The array owns its strings and frees them when destroyed.
    elements[i] = BstrFromWire(strings[i].getText(), &hr);
    if (FAILED(hr)) {
      SafeArrayDestroy(array);
      return hr;
    }
  }
  *out = array;
  return S_OK;
}

HRESULT ArrayToWire(VARTYPE element, SAFEARRAY* array, wire::SafeArray::Builder out) {
  if (element == VT_BSTR) return StringArrayToWire(array, out);
  unsigned size = PlainSize(element);
  if (array->cDims != 1 || array->cbElements != size) return DISP_E_BADVARTYPE;
  std::size_t bytes = std::size_t{array->rgsabound[0].cElements} * size;
  if (bytes != 0 && !array->pvData) return DISP_E_BADVARTYPE;
  out.setElementType(element);
  out.setLowerBound(array->rgsabound[0].lLbound);
  out.setElementSize(size);
  out.setData(capnp::Data::Reader(static_cast<const capnp::byte*>(array->pvData), bytes));
  return S_OK;
}

HRESULT ArrayFromWire(VARTYPE element, wire::SafeArray::Reader in, SAFEARRAY** out) {
  if (element == VT_BSTR) return StringArrayFromWire(in, out);
  unsigned size = PlainSize(element);
  auto data = in.getData();
  if (in.getElementType() != element || in.getElementSize() != size || data.size() % size != 0)
    return RPC_E_INVALID_DATA;
  std::size_t count = data.size() / size;
  if (count > std::numeric_limits<ULONG>::max()) return RPC_E_INVALID_DATA;
  SAFEARRAY* array = SafeArrayCreateVector(element, in.getLowerBound(), static_cast<ULONG>(count));
  if (!array) return DISP_E_BADVARTYPE;
  if (SafeArrayGetElemsize(array) != size) {
    SafeArrayDestroy(array);
    return DISP_E_BADVARTYPE;
  }
  if (count != 0) std::memcpy(array->pvData, data.begin(), data.size());
  *out = array;
  return S_OK;
}

}  // namespace

// --- GUIDs and FILETIMEs -----------------------------------------------------
void GuidToWire(const GUID& guid, wire::Guid::Builder out) {
  out.setData1(guid.Data1);
  out.setData2(guid.Data2);
  out.setData3(guid.Data3);
  std::uint64_t tail = 0;
  for (std::uint8_t byte : guid.Data4) tail = (tail << 8) | byte;
  out.setData4(tail);
}

GUID GuidFromWire(wire::Guid::Reader in) {
  GUID guid{in.getData1(), in.getData2(), in.getData3(), {}};
  std::uint64_t tail = in.getData4();
  for (int i = 7; i >= 0; --i, tail >>= 8) guid.Data4[i] = static_cast<std::uint8_t>(tail);
  return guid;
}

std::uint64_t FileTimeToWire(const FILETIME& time) {
  return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

FILETIME FileTimeFromWire(std::uint64_t ticks) {
  return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

// --- Wide strings --------------------------------------------------------------
capnp::Data::Reader WideToWire(LPCWSTR text) {
  return capnp::Data::Reader(reinterpret_cast<const capnp::byte*>(text),
                             WideLength(text) * sizeof(WCHAR));
}

HRESULT TaskWideFromWire(bool present, capnp::Data::Reader bytes, LPWSTR* out) {
  *out = nullptr;
  if (!present) return S_OK;
  if (bytes.size() % sizeof(WCHAR) != 0) return RPC_E_INVALID_DATA;
  std::size_t units = bytes.size() / sizeof(WCHAR);
  auto* text = static_cast<LPWSTR>(CoTaskMemAlloc((units + 1) * sizeof(WCHAR)));
  if (!text) return E_OUTOFMEMORY;
  if (units != 0) std::memcpy(text, bytes.begin(), bytes.size());
  text[units] = 0;
  *out = text;
  return S_OK;
}

bool WideArg::Assign(bool present, capnp::Data::Reader bytes) {
  present_ = present;
  text_.clear();
  if (!present) return true;
  if (bytes.size() % sizeof(WCHAR) != 0) return false;
  text_.resize(bytes.size() / sizeof(WCHAR));
  if (!text_.empty()) std::memcpy(text_.data(), bytes.begin(), bytes.size());
  return true;
}

// --- VARIANT ---------------------------------------------------------------------
HRESULT VariantToWire(const VARIANT& value, wire::Variant::Builder out) {
  out.setVt(value.vt);
  auto slot = out.getValue();
  switch (StorageOf(value.vt)) {
    case Storage::kNone:
      slot.setNone();
      return S_OK;
    case Storage::kSigned:
      slot.setSigned(SignedValue(value));
      return S_OK;
    case Storage::kUnsigned:
      slot.setUnsigned(UnsignedValue(value));
      return S_OK;
    case Storage::kReal4:
      slot.setReal4(value.fltVal);
      return S_OK;
    case Storage::kReal8:
      slot.setReal8(value.dblVal);
      return S_OK;
    case Storage::kBstr:
      if (value.bstrVal) {
        slot.setBstr(BstrBytes(value.bstrVal));
      } else {
        slot.setNone();
      }
      return S_OK;
    case Storage::kArray:
      if (!value.parray) {
        slot.setNone();
        return S_OK;
      }
      return ArrayToWire(value.vt & VT_TYPEMASK, value.parray, slot.initArray());
    case Storage::kInvalid:
      break;
  }
  return DISP_E_BADVARTYPE;
}

HRESULT VariantFromWire(wire::Variant::Reader in, VARIANT* out) {
  VARIANT v;
  VariantInit(&v);
  v.vt = in.getVt();
  auto slot = in.getValue();
  auto which = slot.which();
  Storage storage = StorageOf(v.vt);
  if (storage == Storage::kInvalid) return DISP_E_BADVARTYPE;
  bool nullable = storage == Storage::kBstr || storage == Storage::kArray;
  if (which == wire::Variant::Value::NONE) {
    if (storage != Storage::kNone && !nullable) return RPC_E_INVALID_DATA;
    *out = v;  // a null BSTR or array, or VT_EMPTY/VT_NULL
    return S_OK;
  }
  switch (storage) {
    case Storage::kSigned:
      if (which != wire::Variant::Value::SIGNED || !SetSigned(v.vt, slot.getSigned(), &v))
        return RPC_E_INVALID_DATA;
      break;
    case Storage::kUnsigned:
      if (which != wire::Variant::Value::UNSIGNED || !SetUnsigned(v.vt, slot.getUnsigned(), &v))
        return RPC_E_INVALID_DATA;
      break;
    case Storage::kReal4:
      if (which != wire::Variant::Value::REAL4) return RPC_E_INVALID_DATA;
      v.fltVal = slot.getReal4();
      break;
    case Storage::kReal8:
      if (which != wire::Variant::Value::REAL8) return RPC_E_INVALID_DATA;
      v.dblVal = slot.getReal8();
      break;
    case Storage::kBstr: {
      if (which != wire::Variant::Value::BSTR) return RPC_E_INVALID_DATA;
      HRESULT hr = S_OK;
      v.bstrVal = BstrFromWire(slot.getBstr(), &hr);
      if (FAILED(hr)) return hr;
      break;
    }
    case Storage::kArray: {
      if (which != wire::Variant::Value::ARRAY) return RPC_E_INVALID_DATA;
      HRESULT hr = ArrayFromWire(v.vt & VT_TYPEMASK, slot.getArray(), &v.parray);
      if (FAILED(hr)) return hr;
      break;
    }
    default:
      return RPC_E_INVALID_DATA;
  }
  *out = v;
  return S_OK;
}

// --- Owned arrays ----------------------------------------------------------------
void FreeContents(OPCITEMRESULT* items, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) CoTaskMemFree(std::exchange(items[i].pBlob, nullptr));
}

void FreeContents(OPCITEMSTATE* items, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) VariantClear(&items[i].vDataValue);
}

void FreeContents(OPCITEMATTRIBUTES* items, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    CoTaskMemFree(std::exchange(items[i].szAccessPath, nullptr));
    CoTaskMemFree(std::exchange(items[i].szItemID, nullptr));
    CoTaskMemFree(std::exchange(items[i].pBlob, nullptr));
    VariantClear(&items[i].vEUInfo);
  }
}

void FreeContents(LPWSTR* items, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) CoTaskMemFree(std::exchange(items[i], nullptr));
}

void FreeContents(VARIANT* items, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) VariantClear(&items[i]);
}

void FreeServerStatus(OPCSERVERSTATUS* status) {
  if (!status) return;
  CoTaskMemFree(status->szVendorInfo);
  CoTaskMemFree(status);
}

}  // namespace tagwell::rpc
