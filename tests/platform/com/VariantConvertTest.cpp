#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>

#include "platform/com/Memory.h"
#include "platform/com/Variant.h"
#include "tests/support/CommaLocale.h"

namespace com {
namespace {

Variant Make(double d) {
  Variant v;
  v->vt = VT_R8;
  v->dblVal = d;
  return v;
}

Variant Make(const std::u16string& text) {
  Variant v;
  v->vt = VT_BSTR;
  v->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return v;
}

Variant MakeInt(VARTYPE vt, LONGLONG value) {
  Variant v;
  v->vt = vt;
  v->llVal = 0;
  switch (vt) {
    case VT_I2:
      v->iVal = static_cast<SHORT>(value);
      break;
    case VT_I4:
      v->lVal = static_cast<LONG>(value);
      break;
    case VT_BOOL:
      v->boolVal = static_cast<VARIANT_BOOL>(value);
      break;
    case VT_UI4:
      v->ulVal = static_cast<ULONG>(value);
      break;
    default:
      v->llVal = value;
      break;
  }
  return v;
}

HRESULT Change(const Variant& src, VARTYPE vt, Variant* out, USHORT flags = 0) {
  return VariantChangeType(out->get(), src.get(), flags, vt);
}

std::u16string Text(const Variant& src, USHORT flags = 0) {
  Variant out;
  EXPECT_EQ(Change(src, VT_BSTR, &out, flags), S_OK);
  return std::u16string(BstrView(out->bstrVal));
}

TEST(VariantChangeType, DoublesRoundHalfToEvenIntoIntegers) {
  struct Case {
    double in;
    LONG out;
  } cases[] = {{0.5, 0},   {1.5, 2},    {2.5, 2},    {-0.5, 0}, {-1.5, -2},
               {-2.5, -2}, {2.4999, 2}, {2.5001, 3}, {-2.6, -3}};
  for (auto [in, expected] : cases) {
    Variant out;
    ASSERT_EQ(Change(Make(in), VT_I4, &out), S_OK) << in;
    EXPECT_EQ(out->vt, VT_I4);
    EXPECT_EQ(out->lVal, expected) << in;
  }
  Variant text;
  ASSERT_EQ(Change(Make(u"3.5"), VT_I2, &text), S_OK);
  EXPECT_EQ(text->iVal, 4);
}

TEST(VariantChangeType, RangeEdgesOfTheIntegerTypes) {
  struct Case {
    VARTYPE vt;
    double ok;
    double overflow;
  } cases[] = {
      {VT_I1, -128, -129},
      {VT_I1, 127, 128},
      {VT_I2, 32767, 32768},
      {VT_I2, -32768, -32769},
      {VT_I2, 32767.4, 32767.5},
      {VT_UI2, 65535, 65536},
      {VT_UI1, 255, 256},
      {VT_UI1, -0.5, -0.6},
      {VT_I4, 2147483647, 2147483648.0},
      {VT_I4, -2147483648.0, -2147483649.0},
      {VT_UI4, 4294967295.0, 4294967296.0},
      {VT_UINT, 0, -1},
      {VT_I8, -9223372036854775808.0, 9223372036854775808.0},
      {VT_UI8, 18446744073709549568.0, 18446744073709551616.0},
  };
  for (const Case& c : cases) {
    Variant out;
    EXPECT_EQ(Change(Make(c.ok), c.vt, &out), S_OK) << c.vt << " " << c.ok;
    EXPECT_EQ(out->vt, c.vt);
    EXPECT_EQ(Change(Make(c.overflow), c.vt, &out), DISP_E_OVERFLOW) << c.vt << " " << c.overflow;
  }
  Variant out;
  EXPECT_EQ(Change(Make(std::nan("")), VT_I4, &out), DISP_E_OVERFLOW);
  EXPECT_EQ(Change(Make(1e39), VT_R4, &out), DISP_E_OVERFLOW);
}

TEST(VariantChangeType, IntegersAmongEachOther) {
  Variant out;
  EXPECT_EQ(Change(MakeInt(VT_I4, -1), VT_UI4, &out), DISP_E_OVERFLOW);
  EXPECT_EQ(Change(MakeInt(VT_I4, -1), VT_UI1, &out), DISP_E_OVERFLOW);
  EXPECT_EQ(Change(MakeInt(VT_UI4, 0xFFFFFFFF), VT_I4, &out), DISP_E_OVERFLOW);
  EXPECT_EQ(Change(MakeInt(VT_I4, 70000), VT_I2, &out), DISP_E_OVERFLOW);
  EXPECT_EQ(Change(MakeInt(VT_I8, std::numeric_limits<LONGLONG>::min()), VT_UI8, &out),
            DISP_E_OVERFLOW);
  ASSERT_EQ(Change(MakeInt(VT_I4, -128), VT_I1, &out), S_OK);
  EXPECT_EQ(static_cast<signed char>(out->cVal), -128);
  ASSERT_EQ(Change(out, VT_I4, &out), S_OK);  // VT_I1 reads back signed
  EXPECT_EQ(out->lVal, -128);
  ASSERT_EQ(Change(MakeInt(VT_UI4, 0xFFFFFFFF), VT_I8, &out), S_OK);
  EXPECT_EQ(out->llVal, 0xFFFFFFFFLL);
  ASSERT_EQ(Change(MakeInt(VT_I8, 9007199254740993LL), VT_R8, &out), S_OK);
  EXPECT_EQ(out->dblVal, 9007199254740992.0);
}

TEST(VariantChangeType, TextToNumbers) {
  struct Case {
    std::u16string text;
    VARTYPE vt;
    HRESULT hr;
    double value;
  } cases[] = {
      {u"42", VT_I4, S_OK, 42},
      {u"  -17\t", VT_I2, S_OK, -17},
      {u"+8", VT_UI1, S_OK, 8},
      {u"1e3", VT_I4, S_OK, 1000},
      {u"2.5", VT_I4, S_OK, 2},
      {u"0.1", VT_R8, S_OK, 0.1},
      {u".5", VT_R4, S_OK, 0.5},
      {u"1e-400", VT_R8, S_OK, 0},
      {u"18446744073709551615", VT_UI8, S_OK, 18446744073709551615.0},
      {u"12abc", VT_I4, DISP_E_TYPEMISMATCH, 0},
      {u"1.2.3", VT_R8, DISP_E_TYPEMISMATCH, 0},
      {u"", VT_I4, DISP_E_TYPEMISMATCH, 0},
      {u"   ", VT_R8, DISP_E_TYPEMISMATCH, 0},
      {u"-", VT_I4, DISP_E_TYPEMISMATCH, 0},
      {u"1e", VT_R8, DISP_E_TYPEMISMATCH, 0},
      {u"0x10", VT_I4, DISP_E_TYPEMISMATCH, 0},
      {u"nan", VT_R8, DISP_E_TYPEMISMATCH, 0},
      {u"1,5", VT_R8, DISP_E_TYPEMISMATCH, 0},
      {u"32768", VT_I2, DISP_E_OVERFLOW, 0},
      {u"-1", VT_UI4, DISP_E_OVERFLOW, 0},
      {u"99999999999999999999", VT_I8, DISP_E_OVERFLOW, 0},
      {u"1e400", VT_R8, DISP_E_OVERFLOW, 0},
  };
  for (const Case& c : cases) {
    Variant out;
    std::string label(c.text.begin(), c.text.end());
    ASSERT_EQ(Change(Make(c.text), c.vt, &out), c.hr) << label;
    if (c.hr != S_OK) continue;
    Variant asDouble;
    ASSERT_EQ(Change(out, VT_R8, &asDouble), S_OK);
    EXPECT_EQ(asDouble->dblVal, c.value) << label;
  }
}

TEST(VariantChangeType, NumbersToText) {
  EXPECT_EQ(Text(Make(0.1)), u"0.1");
  EXPECT_EQ(Text(Make(-2.5)), u"-2.5");
  EXPECT_EQ(Text(Make(1e20)), u"1E+20");
  EXPECT_EQ(Text(Make(-0.0)), u"0");
  EXPECT_EQ(Text(Make(123456789012345.0)), u"123456789012345");
  Variant f;
  f->vt = VT_R4;
  f->fltVal = 0.1f;
  EXPECT_EQ(Text(f), u"0.1");
  EXPECT_EQ(Text(MakeInt(VT_I8, std::numeric_limits<LONGLONG>::min())), u"-9223372036854775808");
  EXPECT_EQ(Text(MakeInt(VT_UI4, 4000000000u)), u"4000000000");
  EXPECT_EQ(Text(Variant()), u"");

  // Every double reads back to the very same value.
  for (double d : {0.1 + 0.2, 1.0 / 3, 2.0 / 3 * 1e-300, 1e308 * 1.7, 5e-324}) {
    Variant back;
    ASSERT_EQ(Change(Make(Text(Make(d))), VT_R8, &back), S_OK);
    EXPECT_EQ(back->dblVal, d);
  }
}

TEST(VariantChangeType, TextIgnoresTheProcessLocale) {
  tagwell::testing::ScopedCommaLocale comma;
  TAGWELL_REQUIRE_COMMA_LOCALE(comma);
  EXPECT_EQ(Text(Make(1.5)), u"1.5");
  Variant out;
  EXPECT_EQ(Change(Make(u"2.25"), VT_R8, &out), S_OK);
  EXPECT_EQ(out->dblVal, 2.25);
}

TEST(VariantChangeType, BooleansBothWays) {
  Variant out;
  ASSERT_EQ(Change(Make(0.25), VT_BOOL, &out), S_OK);
  EXPECT_EQ(out->boolVal, VARIANT_TRUE);
  ASSERT_EQ(Change(MakeInt(VT_I4, 0), VT_BOOL, &out), S_OK);
  EXPECT_EQ(out->boolVal, VARIANT_FALSE);
  ASSERT_EQ(Change(MakeInt(VT_I4, 2), VT_BOOL, &out), S_OK);
  EXPECT_EQ(out->boolVal, VARIANT_TRUE);

  for (auto [text, value] : {std::pair{u"True", VARIANT_TRUE},
                             {u"fALSE", VARIANT_FALSE},
                             {u" TRUE ", VARIANT_TRUE},
                             {u"-1", VARIANT_TRUE},
                             {u"0", VARIANT_FALSE},
                             {u"0.5", VARIANT_TRUE}}) {
    ASSERT_EQ(Change(Make(text), VT_BOOL, &out), S_OK);
    EXPECT_EQ(out->boolVal, value);
  }
  EXPECT_EQ(Change(Make(u"yes"), VT_BOOL, &out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Change(Make(u""), VT_BOOL, &out), DISP_E_TYPEMISMATCH);

  Variant yes = MakeInt(VT_BOOL, VARIANT_TRUE);
  EXPECT_EQ(Text(yes), u"-1");
  EXPECT_EQ(Text(yes, VARIANT_ALPHABOOL), u"True");
  EXPECT_EQ(Text(MakeInt(VT_BOOL, VARIANT_FALSE), VARIANT_ALPHABOOL), u"False");
  ASSERT_EQ(Change(yes, VT_I2, &out), S_OK);
  EXPECT_EQ(out->iVal, -1);
  ASSERT_EQ(Change(yes, VT_UI2, &out), S_OK);
  EXPECT_EQ(out->uiVal, 0xFFFF);
  ASSERT_EQ(Change(yes, VT_R8, &out), S_OK);
  EXPECT_EQ(out->dblVal, -1.0);
}

TEST(VariantChangeType, EmptyConvertsToZeroNothingAndFalse) {
  Variant empty, out;
  ASSERT_EQ(Change(empty, VT_I4, &out), S_OK);
  EXPECT_EQ(out->vt, VT_I4);
  EXPECT_EQ(out->lVal, 0);
  ASSERT_EQ(Change(empty, VT_BOOL, &out), S_OK);
  EXPECT_EQ(out->boolVal, VARIANT_FALSE);
  ASSERT_EQ(Change(empty, VT_BSTR, &out), S_OK);
  ASSERT_NE(out->bstrVal, nullptr);
  EXPECT_EQ(SysStringLen(out->bstrVal), 0u);
  ASSERT_EQ(Change(Make(u"x"), VT_EMPTY, &out), S_OK);
  EXPECT_EQ(out->vt, VT_EMPTY);
}

TEST(VariantChangeType, InPlaceAndFailureKeepTheDestination) {
  std::size_t before = TaskMemOutstanding();
  {
    Variant v = Make(u"12.5");
    ASSERT_EQ(VariantChangeType(v.get(), v.get(), 0, VT_R8), S_OK);  // frees the text
    EXPECT_EQ(v->vt, VT_R8);
    EXPECT_EQ(v->dblVal, 12.5);
    ASSERT_EQ(VariantChangeType(v.get(), v.get(), 0, VT_BSTR), S_OK);
    EXPECT_EQ(BstrView(v->bstrVal), u"12.5");
    ASSERT_EQ(VariantChangeType(v.get(), v.get(), 0, VT_BSTR), S_OK);  // same type: a copy

    Variant dest = Make(u"unchanged");
    BSTR held = dest->bstrVal;
    EXPECT_EQ(Change(Make(u"junk"), VT_I4, &dest), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Change(Make(1e10), VT_I4, &dest), DISP_E_OVERFLOW);
    EXPECT_EQ(dest->vt, VT_BSTR);
    EXPECT_EQ(dest->bstrVal, held);
  }
  EXPECT_EQ(TaskMemOutstanding(), before);
}

TEST(VariantChangeType, ArraysOnlyToTheirOwnTypeAndUnsupportedPairs) {
  std::size_t before = TaskMemOutstanding();
  {
    Variant array;
    array->vt = VT_ARRAY | VT_R8;
    array->parray = SafeArrayCreateVector(VT_R8, 0, 2);
    Variant out;
    ASSERT_EQ(Change(array, VT_ARRAY | VT_R8, &out), S_OK);
    EXPECT_NE(out->parray, array->parray);
    EXPECT_EQ(Change(array, VT_ARRAY | VT_I4, &out), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Change(array, VT_R8, &out), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Change(Make(1.0), VT_ARRAY | VT_R8, &out), DISP_E_TYPEMISMATCH);

    Variant null;
    null->vt = VT_NULL;
    EXPECT_EQ(Change(null, VT_I4, &out), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Change(Make(1.0), VT_NULL, &out), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Change(Make(1.0), VT_UNKNOWN, &out), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Change(Make(1.0), 0x7F, &out), DISP_E_BADVARTYPE);
    EXPECT_EQ(Change(Make(1.0), VT_VARIANT, &out), DISP_E_BADVARTYPE);
    EXPECT_EQ(out->vt, VT_ARRAY | VT_R8);  // still the copy from above
  }
  EXPECT_EQ(TaskMemOutstanding(), before);
}

}  // namespace
}  // namespace com
