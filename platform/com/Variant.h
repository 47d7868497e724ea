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
void SysFreeString(BSTR bstr);                             // null is fine
UINT SysStringLen(BSTR bstr);                              // characters; 0 for null
UINT SysStringByteLen(BSTR bstr);                          // bytes; 0 for null
// Convenience for this platform's code: a BSTR from UTF-8 text, and the
// characters of a BSTR (embedded zeros included; empty for null).
BSTR SysAllocStringUtf8(std::string_view utf8);
std::u16string_view BstrView(BSTR bstr);

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
inline constexpr USHORT FADF_BSTR = 0x0100;

// One-dimensional arrays of the plain numeric element types (VT_I1, VT_I2,
// VT_I4, VT_I8, VT_UI1, VT_UI2, VT_UI4, VT_UI8, VT_INT, VT_UINT, VT_R4, VT_R8,
// VT_BOOL, VT_DATE, VT_ERROR) and of VT_BSTR; other element types give null.
// An array is one task-allocator block; only arrays made by these functions
// may be passed to them. Elements start zeroed (null strings). Any other dim
// than 1 gives DISP_E_BADINDEX; an index outside the bounds DISP_E_BADINDEX;
// destroying an array while it is accessed (SafeArrayAccessData)
// DISP_E_ARRAYISLOCKED.
// A VT_BSTR array owns its strings: destroying frees them, copying
// duplicates them, PutElement takes pv as the BSTR itself (null allowed)
// and stores a copy, GetElement stores a copy into the BSTR that pv points at.
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG elements);
HRESULT SafeArrayDestroy(SAFEARRAY* psa);                    // E_INVALIDARG for null
HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut);  // null copies to null
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
    void* byref;  // any VT_BYREF variant: the address of the value
  };
};
using VARIANTARG = VARIANT;

inline constexpr USHORT VARIANT_NOVALUEPROP = 0x01;
inline constexpr USHORT VARIANT_ALPHABOOL = 0x02;

// True for the types a VARIANT may hold here: the scalar types of VARENUM
// except VT_VARIANT, VT_ARRAY of any of them but VT_EMPTY and VT_NULL, and
// VT_BYREF of either (or of VT_VARIANT). Anything else is DISP_E_BADVARTYPE.
bool IsValidVariantType(VARTYPE vt);

// Bytes of one plain number of type vt (the integer and floating types,
// VT_BOOL, VT_ERROR, VT_CY, VT_DATE), as a VARIANT member or array element;
// 0 for strings, pointers and unknown types.
ULONG PlainValueSize(VARTYPE vt);

void VariantInit(VARIANT* v);
// Frees what the variant owns (BSTR, array, interface) and makes it VT_EMPTY.
// A VT_BYREF variant owns nothing. Fails, leaving v alone, for an invalid
// type (DISP_E_BADVARTYPE) and for an array that is accessed
// (DISP_E_ARRAYISLOCKED).
HRESULT VariantClear(VARIANT* v);
// Clears dest, then makes it a deep copy of src (strings and arrays duplicated,
// interfaces AddRef'd, VT_BYREF copied as it is). dest == src is allowed and
// does nothing. On failure dest is left unchanged.
HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);
// Converts src to type vt into dest (dest may equal src). Supported among
// each other: VT_EMPTY (as 0, "" or false; any of these converts to VT_EMPTY),
// VT_I1, VT_I2, VT_I4, VT_I8, VT_UI1, VT_UI2, VT_UI4, VT_UI8, VT_INT, VT_UINT,
// VT_R4, VT_R8, VT_DATE (as a plain double), VT_BOOL and VT_BSTR; any type to
// itself; an array to the same array type (a copy).
// - Numbers round half to even into integers; a value outside the target's
//   range (a negative one into an unsigned type, NaN into any integer, a
//   finite double beyond VT_R4) gives DISP_E_OVERFLOW.
// - VT_BOOL: VARIANT_TRUE is -1, so true becomes -1 in signed types and the
//   all-ones value in unsigned ones; any nonzero number becomes VARIANT_TRUE.
// - Text: numbers in the "C" locale, blanks around them allowed; "True" and
//   "False" in any case convert to VT_BOOL. Text that is no number (empty,
//   trailing junk) gives DISP_E_TYPEMISMATCH. Into text, doubles get the
//   fewest of 15..17 significant digits that read back to the same value
//   (7..9 for VT_R4); VT_BOOL gives "True"/"False" with VARIANT_ALPHABOOL,
//   else "-1"/"0".
// Any other pair gives DISP_E_TYPEMISMATCH (VT_BYREF sources included), and an
// invalid type DISP_E_BADVARTYPE. On failure dest is left unchanged.
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
