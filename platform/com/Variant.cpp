#include "platform/com/Variant.h"

#include <cstring>

namespace com {

bool IsValidVariantType(VARTYPE vt) {
  if (vt & (VT_BYREF | VT_ARRAY)) {
    VARTYPE target = vt & ~(VT_BYREF | VT_ARRAY);
    if (target == VT_VARIANT) return true;
    if (target == VT_EMPTY || target == VT_NULL) return false;
    return IsValidVariantType(target);
  }
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_ERROR:
    case VT_BOOL:
    case VT_UNKNOWN:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
      return true;
    default:
      return false;
  }
}

void VariantInit(VARIANT* v) {
  if (!v) return;
  std::memset(v, 0, sizeof *v);
  v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* v) {
  if (!v) return E_INVALIDARG;
  if (!IsValidVariantType(v->vt)) return DISP_E_BADVARTYPE;
  if (v->vt & VT_BYREF) {
    // A reference owns nothing.
  } else if (v->vt & VT_ARRAY) {
    if (v->parray) {
      HRESULT hr = SafeArrayDestroy(v->parray);
      if (FAILED(hr)) return hr;  // a locked array stays where it is
    }
  } else if (v->vt == VT_BSTR) {
    SysFreeString(v->bstrVal);
  } else if (v->vt == VT_UNKNOWN || v->vt == VT_DISPATCH) {
    if (v->punkVal) v->punkVal->Release();
  }
  VariantInit(v);
  return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) {
  if (!dest || !src) return E_INVALIDARG;
  if (dest == src) return S_OK;
  if (!IsValidVariantType(src->vt)) return DISP_E_BADVARTYPE;
  // Build the copy first so that a failure leaves dest as it was.
  VARIANT copy = *src;
  if (src->vt & VT_BYREF) {
    // References are copied as they are.
  } else if (src->vt & VT_ARRAY) {
    HRESULT hr = SafeArrayCopy(src->parray, &copy.parray);
    if (FAILED(hr)) return hr;
  } else if (src->vt == VT_BSTR) {
    if (src->bstrVal) {
      copy.bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
      if (!copy.bstrVal) return E_OUTOFMEMORY;
    }
  } else if (src->vt == VT_UNKNOWN || src->vt == VT_DISPATCH) {
    if (src->punkVal) src->punkVal->AddRef();
  }
  HRESULT hr = VariantClear(dest);
  if (FAILED(hr)) {
    VariantClear(&copy);
    return hr;
  }
  *dest = copy;
  return S_OK;
}

std::u16string_view BstrView(BSTR bstr) {
  return bstr ? std::u16string_view(bstr, SysStringLen(bstr)) : std::u16string_view();
}

ULONG PlainValueSize(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR:
      return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
      return 8;
    default:
      return 0;
  }
}

}  // namespace com
