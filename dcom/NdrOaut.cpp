#include "dcom/NdrOaut.h"

namespace tagwell::dcom {

using namespace com;

namespace {

// SF_TYPE: how the elements of a wireSAFEARRAY travel.
enum SfType : std::uint32_t { SF_I1 = 16, SF_I2 = 2, SF_I4 = 3, SF_I8 = 20, SF_BSTR = 8 };

// Bytes of a scalar of type vt on the wire (its size in memory); 0 for
// anything else.
std::size_t ScalarSize(VARTYPE vt) {
  return PlainValueSize(vt);
}

std::uint32_t SfTypeOf(VARTYPE element) {
  if (element == VT_BSTR) return SF_BSTR;
  switch (ScalarSize(element)) {
    case 1:
      return SF_I1;
    case 2:
      return SF_I2;
    case 4:
      return SF_I4;
    default:
      return SF_I8;
  }
}

void WriteScalar(NdrWriter& w, std::size_t size, const void* value) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, value, size);
  switch (size) {
    case 1:
      w.U8(static_cast<std::uint8_t>(bits));
      break;
    case 2:
      w.U16(static_cast<std::uint16_t>(bits));
      break;
    case 4:
      w.U32(static_cast<std::uint32_t>(bits));
      break;
    default:
      w.U64(bits);
  }
}

void ReadScalar(NdrReader& r, std::size_t size, void* value) {
  std::uint64_t bits = 0;
  switch (size) {
    case 1:
      bits = r.U8();
      break;
    case 2:
      bits = r.U16();
      break;
    case 4:
      bits = r.U32();
      break;
    default:
      bits = r.U64();
  }
  std::memcpy(value, &bits, size);
}

// The _wireSAFEARRAY of a one-dimensional array (pointee of parray).
void WriteSafeArray(NdrWriter& w, SAFEARRAY* psa, VARTYPE element) {
  const bool bstr = element == VT_BSTR;
  const std::size_t size = bstr ? 8 : ScalarSize(element);
  const ULONG n = psa->rgsabound[0].cElements;
  w.U32(1);  // conformance of rgsabound
  w.U16(1);
  w.U16(static_cast<USHORT>(FADF_HAVEVARTYPE | (bstr ? FADF_BSTR : 0)));
  w.U32(static_cast<std::uint32_t>(size));
  w.U32(0);
  w.U32(SfTypeOf(element));
  w.U32(n);
  bool present = w.Pointer(true);
  w.U32(n);
  w.I32(psa->rgsabound[0].lLbound);
  if (!present) return;
  void* data = nullptr;
  SafeArrayAccessData(psa, &data);
  w.Conformance(n);
  if (bstr) {
    auto strings = static_cast<BSTR*>(data);
    for (ULONG i = 0; i < n; ++i) w.Pointer(strings[i] != nullptr);
    for (ULONG i = 0; i < n; ++i)
      if (strings[i]) WriteBstrBlob(w, BstrView(strings[i]));
  } else {
    auto bytes = static_cast<const std::uint8_t*>(data);
    for (ULONG i = 0; i < n; ++i) WriteScalar(w, size, bytes + i * size);
  }
  SafeArrayUnaccessData(psa);
}

SAFEARRAY* ReadSafeArray(NdrReader& r, VARTYPE element) {
  std::uint32_t dims = r.Conformance(8);
  USHORT cDims = r.U16();
  r.U16();  // fFeatures: the receiver's own array decides
  r.U32();  // cbElements
  r.U32();  // cLocks
  std::uint32_t sf = r.U32();
  std::uint32_t count = r.U32();
  std::uint32_t data = r.Pointer();
  if (!r.ok() || dims != 1 || cDims != 1 || sf != SfTypeOf(element) || data == 0) {
    r.Fail();
    return nullptr;
  }
  ULONG elements = r.U32();
  LONG lower = r.I32();
  const bool bstr = element == VT_BSTR;
  const std::size_t size = bstr ? 4 : ScalarSize(element);
  std::uint32_t n = r.Conformance(size);
  if (!r.ok() || n != count || n != elements) {
    r.Fail();
    return nullptr;
  }
  SAFEARRAY* psa = SafeArrayCreateVector(element, lower, n);
  if (!psa) {
    r.Fail();
    return nullptr;
  }
  void* out = nullptr;
  SafeArrayAccessData(psa, &out);
  if (bstr) {
    std::vector<std::uint32_t> present(n);
    for (auto& p : present) p = r.Pointer();
    for (std::uint32_t i = 0; i < n && r.ok(); ++i) {
      if (!present[i]) continue;
      std::u16string text = ReadBstrBlob(r);
      static_cast<BSTR*>(out)[i] = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    }
  } else {
    auto bytes = static_cast<std::uint8_t*>(out);
    for (std::uint32_t i = 0; i < n && r.ok(); ++i) ReadScalar(r, size, bytes + i * size);
  }
  SafeArrayUnaccessData(psa);
  if (!r.ok()) {
    SafeArrayDestroy(psa);
    return nullptr;
  }
  return psa;
}

}  // namespace

bool WireVariantType(VARTYPE vt) {
  if (vt == VT_EMPTY || vt == VT_NULL || vt == VT_BSTR) return true;
  VARTYPE base = vt & ~VT_ARRAY;
  if (ScalarSize(base) == 0 && base != VT_BSTR) return false;
  return vt == base || vt == (base | VT_ARRAY);
}

// --- BSTR ------------------------------------------------------------------
void WriteBstrBlob(NdrWriter& w, std::u16string_view text) {
  auto n = static_cast<std::uint32_t>(text.size());
  w.Conformance(n);
  w.U32(n * 2);  // cBytes
  w.U32(n);      // clSize
  for (char16_t c : text) w.U16(static_cast<std::uint16_t>(c));
}

void WriteBstr(NdrWriter& w, BSTR text) {
  if (w.Pointer(text != nullptr)) WriteBstrBlob(w, BstrView(text));
}

std::u16string ReadBstrBlob(NdrReader& r) {
  std::uint32_t max = r.Conformance(2);
  std::uint32_t bytes = r.U32();
  std::uint32_t chars = r.U32();
  if (!r.ok() || chars != max || bytes > 2ull * chars) {
    r.Fail();
    return {};
  }
  auto units = r.Elements<std::uint16_t>(chars);
  if (!r.ok()) return {};
  std::u16string text(units.begin(), units.begin() + bytes / 2);
  return text;
}

// --- VARIANT ----------------------------------------------------------------
HRESULT WriteVariantBody(NdrWriter& w, const VARIANT& v) {
  if (!WireVariantType(v.vt)) return DISP_E_BADVARTYPE;
  if ((v.vt & VT_ARRAY) && v.parray && SafeArrayGetDim(v.parray) != 1) return DISP_E_BADVARTYPE;
  w.Align(8);
  const std::size_t start = w.size();
  w.U32(0);  // clSize, patched below
  w.U32(0);  // rpcReserved
  w.U16(v.vt);
  w.U16(v.wReserved1);
  w.U16(v.wReserved2);
  w.U16(v.wReserved3);
  w.U32(v.vt);  // the union's switch
  if (v.vt & VT_ARRAY) {
    if (w.Pointer(v.parray != nullptr)) WriteSafeArray(w, v.parray, v.vt & ~VT_ARRAY);
  } else if (v.vt == VT_BSTR) {
    WriteBstr(w, v.bstrVal);
  } else if (std::size_t size = ScalarSize(v.vt)) {
    WriteScalar(w, size, &v.llVal);
  }
  w.Align(8);
  w.PatchU32(start, static_cast<std::uint32_t>((w.size() - start) / 8));
  return S_OK;
}

HRESULT WriteVariant(NdrWriter& w, const VARIANT& v) {
  if (!WireVariantType(v.vt)) return DISP_E_BADVARTYPE;
  w.Pointer(true);
  return WriteVariantBody(w, v);
}

void ReadVariantBody(NdrReader& r, VARIANT* out) {
  r.Align(8);
  r.U32();  // clSize: the size follows from vt
  r.U32();  // rpcReserved
  VARTYPE vt = r.U16();
  r.U16();
  r.U16();
  r.U16();
  std::uint32_t discriminant = r.U32();
  if (!r.ok() || discriminant != vt || !WireVariantType(vt)) {
    r.Fail();
    return;
  }
  VARIANT v;
  VariantInit(&v);
  if (vt & VT_ARRAY) {
    if (r.Pointer()) v.parray = ReadSafeArray(r, vt & ~VT_ARRAY);
  } else if (vt == VT_BSTR) {
    if (r.Pointer()) {
      std::u16string text = ReadBstrBlob(r);
      if (r.ok()) v.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    }
  } else if (std::size_t size = ScalarSize(vt)) {
    ReadScalar(r, size, &v.llVal);
  }
  v.vt = vt;
  if (!r.ok()) {
    VariantClear(&v);
    return;
  }
  *out = v;
}

void ReadVariant(NdrReader& r, VARIANT* out) {
  if (r.Pointer() == 0) {
    r.Fail();
    return;
  }
  ReadVariantBody(r, out);
}

// --- Interface pointers ---------------------------------------------------------
void WriteInterfacePointer(NdrWriter& w, const std::vector<std::uint8_t>& objref) {
  auto n = static_cast<std::uint32_t>(objref.size());
  w.Conformance(n);
  w.U32(n);
  w.Raw(objref.data(), objref.size());
}

std::vector<std::uint8_t> ReadInterfacePointer(NdrReader& r) {
  std::uint32_t max = r.Conformance(1);
  std::uint32_t n = r.U32();
  if (!r.ok() || n != max) {
    r.Fail();
    return {};
  }
  return r.Elements<std::uint8_t>(n);
}

}  // namespace tagwell::dcom
