#include <gtest/gtest.h>

#include "platform/com/Memory.h"
#include "platform/com/Variant.h"

namespace com {
namespace {

TEST(SafeArray, VectorBoundsAndElements) {
  std::size_t before = TaskMemOutstanding();
  SAFEARRAY* sa = SafeArrayCreateVector(VT_R8, -2, 3);  // indices -2..0
  ASSERT_NE(sa, nullptr);
  EXPECT_EQ(SafeArrayGetDim(sa), 1u);
  EXPECT_EQ(SafeArrayGetElemsize(sa), 8u);
  VARTYPE vt = VT_EMPTY;
  EXPECT_EQ(SafeArrayGetVartype(sa, &vt), S_OK);
  EXPECT_EQ(vt, VT_R8);
  LONG lower = 0, upper = 0;
  EXPECT_EQ(SafeArrayGetLBound(sa, 1, &lower), S_OK);
  EXPECT_EQ(SafeArrayGetUBound(sa, 1, &upper), S_OK);
  EXPECT_EQ(lower, -2);
  EXPECT_EQ(upper, 0);
  EXPECT_EQ(SafeArrayGetLBound(sa, 2, &lower), DISP_E_BADINDEX);

  for (LONG i = -2; i <= 0; ++i) {
    double d = i * 1.5;
    EXPECT_EQ(SafeArrayPutElement(sa, &i, &d), S_OK);
  }
  double d = 99;
  for (LONG outside : {-3, 1}) {
    EXPECT_EQ(SafeArrayPutElement(sa, &outside, &d), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayGetElement(sa, &outside, &d), DISP_E_BADINDEX);
  }
  LONG first = -2;
  EXPECT_EQ(SafeArrayGetElement(sa, &first, &d), S_OK);
  EXPECT_EQ(d, -3.0);

  double* data = nullptr;
  EXPECT_EQ(SafeArrayAccessData(sa, reinterpret_cast<void**>(&data)), S_OK);
  EXPECT_EQ(data[1], -1.5);
  EXPECT_EQ(SafeArrayDestroy(sa), DISP_E_ARRAYISLOCKED);  // still accessed
  EXPECT_EQ(SafeArrayUnaccessData(sa), S_OK);
  EXPECT_EQ(SafeArrayUnaccessData(sa), E_UNEXPECTED);
  EXPECT_EQ(SafeArrayDestroy(sa), S_OK);
  EXPECT_EQ(TaskMemOutstanding(), before);
}

TEST(SafeArray, EmptyVectorAndUnsupportedTypes) {
  SAFEARRAY* empty = SafeArrayCreateVector(VT_UI1, 1, 0);
  ASSERT_NE(empty, nullptr);
  LONG upper = 7;
  EXPECT_EQ(SafeArrayGetUBound(empty, 1, &upper), S_OK);
  EXPECT_EQ(upper, 0);  // one below the lower bound
  LONG index = 1;
  BYTE b = 0;
  EXPECT_EQ(SafeArrayGetElement(empty, &index, &b), DISP_E_BADINDEX);
  SafeArrayDestroy(empty);

  EXPECT_EQ(SafeArrayCreateVector(VT_VARIANT, 0, 2), nullptr);
  EXPECT_EQ(SafeArrayDestroy(nullptr), E_INVALIDARG);
}

TEST(SafeArray, CopyIsIndependentAndKeepsTypeAndBounds) {
  std::size_t before = TaskMemOutstanding();
  SAFEARRAY* sa = SafeArrayCreateVector(VT_UI1, 5, 4);
  for (LONG i = 5; i < 9; ++i) {
    BYTE v = static_cast<BYTE>(i * 10);
    SafeArrayPutElement(sa, &i, &v);
  }
  SAFEARRAY* copy = nullptr;
  ASSERT_EQ(SafeArrayCopy(sa, &copy), S_OK);
  ASSERT_NE(copy, sa);
  LONG index = 6;
  BYTE v = 0;
  SafeArrayPutElement(sa, &index, &v);  // changing the original...
  SafeArrayGetElement(copy, &index, &v);
  EXPECT_EQ(v, 60);  // ...leaves the copy alone
  VARTYPE vt = VT_EMPTY;
  SafeArrayGetVartype(copy, &vt);
  EXPECT_EQ(vt, VT_UI1);
  LONG lower = 0;
  SafeArrayGetLBound(copy, 1, &lower);
  EXPECT_EQ(lower, 5);
  SafeArrayDestroy(sa);
  SafeArrayDestroy(copy);

  SAFEARRAY* none = sa;
  EXPECT_EQ(SafeArrayCopy(nullptr, &none), S_OK);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(TaskMemOutstanding(), before);
}

TEST(SafeArray, StringVectorsOwnTheirStrings) {
  std::size_t before = TaskMemOutstanding();
  SAFEARRAY* sa = SafeArrayCreateVector(VT_BSTR, 0, 3);
  ASSERT_NE(sa, nullptr);
  BSTR open = SysAllocString(u"Open");
  LONG i = 0;
  ASSERT_EQ(SafeArrayPutElement(sa, &i, open), S_OK);  // stores a copy
  SysFreeString(open);
  i = 1;
  BSTR closed = SysAllocString(u"Closed");
  SafeArrayPutElement(sa, &i, closed);
  SafeArrayPutElement(sa, &i, closed);  // replacing frees the earlier copy
  SysFreeString(closed);

  SAFEARRAY* copy = nullptr;
  ASSERT_EQ(SafeArrayCopy(sa, &copy), S_OK);
  SafeArrayDestroy(sa);  // the copy's strings are its own
  BSTR out = nullptr;
  i = 0;
  ASSERT_EQ(SafeArrayGetElement(copy, &i, &out), S_OK);
  EXPECT_EQ(BstrView(out), u"Open");
  SysFreeString(out);
  i = 2;
  ASSERT_EQ(SafeArrayGetElement(copy, &i, &out), S_OK);
  EXPECT_EQ(out, nullptr);  // never set
  SafeArrayDestroy(copy);
  EXPECT_EQ(TaskMemOutstanding(), before);
}

}  // namespace
}  // namespace com
