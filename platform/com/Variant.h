// BSTR, VARIANT and one-dimensional SAFEARRAY.
#pragma once

#include <string>
#include <string_view>

#include "platform/com/Unknown.h"

namespace com {

enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
  VT_TYPEMASK = 0x0FFF,
};

// --- BSTR -------------------------------------------------------------------
// A BSTR is one block: a 32-bit byte count, the characters, a zero unit.
// SysAllocString*(nullptr...) give a null BSTR only where Windows does.
BSTR SysAllocString(const OLECHAR* text);
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);  // text may be null: zero-filled
void SysFreeString(BSTR bstr);                              // null is fine
UINT SysStringLen(BSTR bstr);                               // characters; 0 for null
UINT SysStringByteLen(BSTR bstr);                           // bytes; 0 for null
// Convenience for this platform's code: a BSTR from UTF-8 text.
BSTR SysAllocStringUtf8(std::string_view utf8);

// --- SAFEARRAY -------------------------------------------------------------
struct SAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
};

struct SAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  void* pvData;
  SAFEARRAYBOUND rgsabound[1];
};

inline constexpr USHORT FADF_HAVEVARTYPE = 0x0080;

// Only one-dimensional arrays of VT_R8 and VT_UI1 (and the other plain
// numeric types) are supported; other element types give null.
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG elements);
HRESULT SafeArrayDestroy(SAFEARRAY* psa);                  // E_INVALIDARG for null
HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut);
HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt);
UINT SafeArrayGetDim(SAFEARRAY* psa);
UINT SafeArrayGetElemsize(SAFEARRAY* psa);
HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT dim, LONG* plLbound);
HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT dim, LONG* plUbound);
HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData);
HRESULT SafeArrayUnaccessData(SAFEARRAY* psa);
HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* indices, void* pv);
HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* indices, void* pv);

// --- VARIANT ---------------------------------------------------------------
struct VARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LONGLONG llVal;
    LONG lVal;
    BYTE bVal;
    SHORT iVal;
    FLOAT fltVal;
    DOUBLE dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    DATE date;
    BSTR bstrVal;
    IUnknown* punkVal;
    SAFEARRAY* parray;
    CHAR cVal;
    USHORT uiVal;
    ULONG ulVal;
    ULONGLONG ullVal;
    INT intVal;
    UINT uintVal;
    VARIANT* pvarVal;
  };
};
using VARIANTARG = VARIANT;

inline constexpr USHORT VARIANT_NOVALUEPROP = 0x01;
inline constexpr USHORT VARIANT_ALPHABOOL = 0x02;

void VariantInit(VARIANT* v);
// Frees what the variant owns (BSTR, array, interface) and makes it VT_EMPTY.
HRESULT VariantClear(VARIANT* v);
// Clears dest, then makes it a deep copy of src (strings and arrays duplicated,
// interfaces AddRef'd). dest == src is allowed and does nothing.
HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);
// Converts src to type vt into dest (dest may equal src). Supported: the
// empty type, the integer and floating types, VT_BOOL, VT_DATE, VT_BSTR among
// each other, and an array to the same array type. Numbers round half to even
// into integers; a value out of range gives DISP_E_OVERFLOW; text that is not
// a number, and any other pair, DISP_E_TYPEMISMATCH. Number text uses the "C"
// locale. On failure dest is left unchanged.
HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt);

// Owns one VARIANT: copying copies it deeply, destruction clears it.
class Variant {
 public:
  Variant() { VariantInit(&v_); }
  Variant(const Variant& o) : Variant() { VariantCopy(&v_, &o.v_); }
  Variant(Variant&& o) noexcept : v_(o.v_) { VariantInit(&o.v_); }
  Variant& operator=(const Variant& o) {
    VariantCopy(&v_, &o.v_);
    return *this;
  }
  Variant& operator=(Variant&& o) noexcept {
    if (this != &o) {
      VariantClear(&v_);
      v_ = o.v_;
      VariantInit(&o.v_);
    }
    return *this;
  }
  ~Variant() { VariantClear(&v_); }

  // Takes over the contents of v, which is left VT_EMPTY.
  static Variant Adopt(VARIANT* v) {
    Variant r;
    r.v_ = *v;
    VariantInit(v);
    return r;
  }

  VARIANT* get() { return &v_; }
  const VARIANT* get() const { return &v_; }
  VARIANT* operator->() { return &v_; }
  const VARIANT* operator->() const { return &v_; }
  void Clear() { VariantClear(&v_); }

 private:
  VARIANT v_;
};

}  // namespace com
