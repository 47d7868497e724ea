// VariantChangeType: conversions among the empty, numeric, boolean and text
// types.
#include <locale.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "platform/com/Variant.h"

namespace com {
namespace {

// A source value reduced to what the conversions need.
struct Value {
  enum Kind { kEmpty, kSigned, kUnsigned, kReal, kText } kind = kEmpty;
  std::int64_t i = 0;
  std::uint64_t u = 0;
  double d = 0;
  bool isFloat = false;  // a VT_R4 source: printed with float precision
  bool isBool = false;   // a VT_BOOL source: i is the VARIANT_BOOL
  std::u16string_view text;
};

bool ReadSource(const VARIANT& v, Value* out) {
  Value r;
  switch (v.vt) {
    case VT_EMPTY:
      r.kind = Value::kEmpty;
      break;
    case VT_I1:
      r.kind = Value::kSigned, r.i = static_cast<signed char>(v.cVal);
      break;
    case VT_I2:
      r.kind = Value::kSigned, r.i = v.iVal;
      break;
    case VT_I4:
      r.kind = Value::kSigned, r.i = v.lVal;
      break;
    case VT_INT:
      r.kind = Value::kSigned, r.i = v.intVal;
      break;
    case VT_I8:
      r.kind = Value::kSigned, r.i = v.llVal;
      break;
    case VT_BOOL:
      r.kind = Value::kSigned, r.i = v.boolVal, r.isBool = true;
      break;
    case VT_UI1:
      r.kind = Value::kUnsigned, r.u = v.bVal;
      break;
    case VT_UI2:
      r.kind = Value::kUnsigned, r.u = v.uiVal;
      break;
    case VT_UI4:
      r.kind = Value::kUnsigned, r.u = v.ulVal;
      break;
    case VT_UINT:
      r.kind = Value::kUnsigned, r.u = v.uintVal;
      break;
    case VT_UI8:
      r.kind = Value::kUnsigned, r.u = v.ullVal;
      break;
    case VT_R4:
      r.kind = Value::kReal, r.d = v.fltVal, r.isFloat = true;
      break;
    case VT_R8:
      r.kind = Value::kReal, r.d = v.dblVal;
      break;
    case VT_DATE:
      r.kind = Value::kReal, r.d = v.date;
      break;
    case VT_BSTR:
      r.kind = Value::kText, r.text = BstrView(v.bstrVal);
      break;
    default:
      return false;
  }
  *out = r;
  return true;
}

// --- Text -------------------------------------------------------------------

locale_t CLocale() {
  static locale_t c = newlocale(LC_ALL_MASK, "C", nullptr);
  return c;
}

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t';
}

std::u16string_view Trim(std::u16string_view t) {
  while (!t.empty() && IsBlank(t.front())) t.remove_prefix(1);
  while (!t.empty() && IsBlank(t.back())) t.remove_suffix(1);
  return t;
}

bool IsDigit(char16_t c) {
  return c >= u'0' && c <= u'9';
}

// Matches [+-]digits[.digits][(e|E)[+-]digits] with a digit in the mantissa,
// into ASCII. *integral tells whether it has neither point nor exponent.
bool NumberSyntax(std::u16string_view t, std::string* ascii, bool* integral) {
  std::size_t i = 0, n = t.size();
  auto digits = [&] {
    std::size_t start = i;
    while (i < n && IsDigit(t[i])) ++i;
    return i - start;
  };
  if (i < n && (t[i] == u'+' || t[i] == u'-')) ++i;
  std::size_t mantissa = digits();
  *integral = true;
  if (i < n && t[i] == u'.') {
    ++i;
    mantissa += digits();
    *integral = false;
  }
  if (mantissa == 0) return false;
  if (i < n && (t[i] == u'e' || t[i] == u'E')) {
    ++i;
    if (i < n && (t[i] == u'+' || t[i] == u'-')) ++i;
    if (digits() == 0) return false;
    *integral = false;
  }
  if (i != n) return false;
  ascii->assign(t.begin(), t.end());  // all ASCII by now
  return true;
}

// Parses number text into *out (signed, unsigned or real).
HRESULT ParseNumber(std::u16string_view text, Value* out) {
  std::string s;
  bool integral;
  if (!NumberSyntax(Trim(text), &s, &integral)) return DISP_E_TYPEMISMATCH;
  const char* first = s.c_str() + (s[0] == '+' ? 1 : 0);
  const char* last = s.c_str() + s.size();
  if (integral) {
    auto r =
        s[0] == '-' ? std::from_chars(first, last, out->i) : std::from_chars(first, last, out->u);
    if (r.ec == std::errc() && r.ptr == last) {
      out->kind = s[0] == '-' ? Value::kSigned : Value::kUnsigned;
      return S_OK;
    }
    // Beyond 64 bits: read on as a double, which every integer target refuses.
  }
  errno = 0;
  double d = strtod_l(s.c_str(), nullptr, CLocale());
  if (errno == ERANGE && std::isinf(d)) return DISP_E_OVERFLOW;
  out->kind = Value::kReal;
  out->d = d;  // an underflow reads as the nearest tiny value or zero
  return S_OK;
}

bool EqualsIgnoringCase(std::u16string_view t, std::u16string_view lower) {
  if (t.size() != lower.size()) return false;
  for (std::size_t i = 0; i < t.size(); ++i) {
    char16_t c = t[i] >= u'A' && t[i] <= u'Z' ? t[i] - u'A' + u'a' : t[i];
    if (c != lower[i]) return false;
  }
  return true;
}

template <class T>
std::string FormatInteger(T value) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, r.ptr);
}

// The fewest significant digits from `digits` up to max_digits10 that read
// back to the same value, with an upper-case exponent.
template <class T>
std::string FormatReal(T value, int digits) {
  if (value == 0) return "0";  // no "-0"
  char buf[64];
  std::to_chars_result r{};
  for (int p = digits; p <= std::numeric_limits<T>::max_digits10; ++p) {
    r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, p);
    T back{};
    std::from_chars(buf, r.ptr, back);
    if (back == value) break;
  }
  std::string s(buf, r.ptr);
  for (char& c : s)
    if (c == 'e') c = 'E';
  return s;
}

HRESULT ToText(const Value& v, USHORT flags, VARIANT* dest) {
  std::string s;
  switch (v.kind) {
    case Value::kEmpty:
      break;
    case Value::kSigned:
      if (v.isBool)
        s = (flags & VARIANT_ALPHABOOL) ? (v.i ? "True" : "False") : (v.i ? "-1" : "0");
      else
        s = FormatInteger(v.i);
      break;
    case Value::kUnsigned:
      s = FormatInteger(v.u);
      break;
    case Value::kReal:
      s = v.isFloat ? FormatReal(static_cast<float>(v.d), 7) : FormatReal(v.d, 15);
      break;
    case Value::kText:
      dest->bstrVal = SysAllocStringLen(v.text.data(), static_cast<UINT>(v.text.size()));
      return dest->bstrVal ? S_OK : E_OUTOFMEMORY;
  }
  dest->bstrVal = SysAllocStringUtf8(s);
  return dest->bstrVal ? S_OK : E_OUTOFMEMORY;
}

// --- Numbers ----------------------------------------------------------------

struct IntegerType {
  int bits;
  bool isSigned;
};

bool IntegerTarget(VARTYPE vt, IntegerType* t) {
  switch (vt) {
    case VT_I1:
      *t = {8, true};
      return true;
    case VT_I2:
      *t = {16, true};
      return true;
    case VT_I4:
    case VT_INT:
      *t = {32, true};
      return true;
    case VT_I8:
      *t = {64, true};
      return true;
    case VT_UI1:
      *t = {8, false};
      return true;
    case VT_UI2:
      *t = {16, false};
      return true;
    case VT_UI4:
    case VT_UINT:
      *t = {32, false};
      return true;
    case VT_UI8:
      *t = {64, false};
      return true;
    default:
      return false;
  }
}

double RoundHalfToEven(double x) {
  double f = std::floor(x);
  double diff = x - f;
  if (diff > 0.5) return f + 1;
  if (diff < 0.5) return f;
  return std::fmod(f, 2) == 0 ? f : f + 1;
}

// The integer value of v as two's-complement bits, range-checked for t.
HRESULT ToIntegerBits(const Value& v, IntegerType t, std::uint64_t* bits) {
  // Range of t: [-2^(bits-1), 2^(bits-1)) when signed, [0, 2^bits) when not.
  int valueBits = t.isSigned ? t.bits - 1 : t.bits;
  double limit = std::ldexp(1.0, valueBits);  // max + 1, exact as a double
  std::uint64_t max = valueBits == 64 ? std::numeric_limits<std::uint64_t>::max()
                                      : (std::uint64_t{1} << valueBits) - 1;
  std::int64_t min = t.isSigned ? -static_cast<std::int64_t>(max) - 1 : 0;
  switch (v.kind) {
    case Value::kEmpty:
      *bits = 0;
      return S_OK;
    case Value::kSigned:
      if (v.isBool && !t.isSigned) {  // VARIANT_TRUE is all ones, as on Windows
        *bits = static_cast<std::uint64_t>(v.i);
        break;
      }
      if (v.i < 0 ? v.i < min : static_cast<std::uint64_t>(v.i) > max) return DISP_E_OVERFLOW;
      *bits = static_cast<std::uint64_t>(v.i);
      break;
    case Value::kUnsigned:
      if (v.u > max) return DISP_E_OVERFLOW;
      *bits = v.u;
      break;
    case Value::kReal: {
      double r = RoundHalfToEven(v.d);
      if (std::isnan(r) || r < static_cast<double>(min) || r >= limit) return DISP_E_OVERFLOW;
      *bits = r < 0 ? static_cast<std::uint64_t>(static_cast<std::int64_t>(r))
                    : static_cast<std::uint64_t>(r);
      break;
    }
    case Value::kText: {
      Value number;
      HRESULT hr = ParseNumber(v.text, &number);
      return FAILED(hr) ? hr : ToIntegerBits(number, t, bits);
    }
  }
  return S_OK;
}

void StoreInteger(VARTYPE vt, std::uint64_t bits, VARIANT* dest) {
  switch (vt) {
    case VT_I1:
      dest->cVal = static_cast<CHAR>(static_cast<std::int8_t>(bits));
      break;
    case VT_I2:
      dest->iVal = static_cast<SHORT>(bits);
      break;
    case VT_I4:
      dest->lVal = static_cast<LONG>(bits);
      break;
    case VT_INT:
      dest->intVal = static_cast<INT>(bits);
      break;
    case VT_I8:
      dest->llVal = static_cast<LONGLONG>(bits);
      break;
    case VT_UI1:
      dest->bVal = static_cast<BYTE>(bits);
      break;
    case VT_UI2:
      dest->uiVal = static_cast<USHORT>(bits);
      break;
    case VT_UI4:
      dest->ulVal = static_cast<ULONG>(bits);
      break;
    case VT_UINT:
      dest->uintVal = static_cast<UINT>(bits);
      break;
    default:
      dest->ullVal = bits;
      break;
  }
}

HRESULT ToDouble(const Value& v, double* out) {
  switch (v.kind) {
    case Value::kEmpty:
      *out = 0;
      return S_OK;
    case Value::kSigned:
      *out = static_cast<double>(v.i);
      return S_OK;
    case Value::kUnsigned:
      *out = static_cast<double>(v.u);
      return S_OK;
    case Value::kReal:
      *out = v.d;
      return S_OK;
    case Value::kText: {
      Value number;
      HRESULT hr = ParseNumber(v.text, &number);
      return FAILED(hr) ? hr : ToDouble(number, out);
    }
  }
  return DISP_E_TYPEMISMATCH;
}

HRESULT ToBool(const Value& v, VARIANT_BOOL* out) {
  if (v.kind == Value::kText) {
    std::u16string_view t = Trim(v.text);
    if (EqualsIgnoringCase(t, u"true")) return *out = VARIANT_TRUE, S_OK;
    if (EqualsIgnoringCase(t, u"false")) return *out = VARIANT_FALSE, S_OK;
    Value number;
    HRESULT hr = ParseNumber(t, &number);
    return FAILED(hr) ? hr : ToBool(number, out);
  }
  bool set = (v.kind == Value::kSigned && v.i != 0) || (v.kind == Value::kUnsigned && v.u != 0) ||
             (v.kind == Value::kReal && v.d != 0);  // NaN is nonzero
  *out = set ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

// The conversions of Value into scalar type vt, written into *dest.
HRESULT Convert(const Value& v, USHORT flags, VARTYPE vt, VARIANT* dest) {
  dest->vt = vt;
  IntegerType integer;
  if (IntegerTarget(vt, &integer)) {
    std::uint64_t bits;
    HRESULT hr = ToIntegerBits(v, integer, &bits);
    if (SUCCEEDED(hr)) StoreInteger(vt, bits, dest);
    return hr;
  }
  switch (vt) {
    case VT_EMPTY:
      return S_OK;
    case VT_BOOL:
      return ToBool(v, &dest->boolVal);
    case VT_BSTR:
      return ToText(v, flags, dest);
    case VT_R8:
    case VT_DATE:
      return ToDouble(v, &dest->dblVal);
    case VT_R4: {
      double d;
      HRESULT hr = ToDouble(v, &d);
      if (FAILED(hr)) return hr;
      if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max())
        return DISP_E_OVERFLOW;
      dest->fltVal = static_cast<float>(d);
      return S_OK;
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

}  // namespace

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt) {
  if (!dest || !src) return E_INVALIDARG;
  if (!IsValidVariantType(src->vt) || !IsValidVariantType(vt)) return DISP_E_BADVARTYPE;
  VARIANT result;
  VariantInit(&result);
  HRESULT hr;
  if (src->vt == vt && !(vt & VT_BYREF)) {
    hr = VariantCopy(&result, src);
  } else {
    Value value;
    if (((src->vt | vt) & (VT_ARRAY | VT_BYREF)) || !ReadSource(*src, &value))
      return DISP_E_TYPEMISMATCH;
    hr = Convert(value, flags, vt, &result);
  }
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  // result holds copies only, so clearing dest cannot pull anything out from
  // under it, even when dest is src.
  hr = VariantClear(dest);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  *dest = result;
  return S_OK;
}

}  // namespace com
