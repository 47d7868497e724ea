#include <gtest/gtest.h>

#include "platform/com/Memory.h"
#include "platform/com/Variant.h"

namespace com {
namespace {

// An object that only counts its references; it lives on the test's stack.
class CountedObject final : public IUnknown {
 public:
  HRESULT QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  ULONG refs = 1;
};

VARIANT MakeArray(std::initializer_list<double> values) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_ARRAY | VT_R8;
  v.parray = SafeArrayCreateVector(VT_R8, 0, static_cast<ULONG>(values.size()));
  LONG i = 0;
  for (double d : values) {
    SafeArrayPutElement(v.parray, &i, &d);
    ++i;
  }
  return v;
}

TEST(Variant, ClearAndCopyOwnStringsAndArrays) {
  std::size_t before = TaskMemOutstanding();
  VARIANT text;
  VariantInit(&text);
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocString(u"Level");
  VARIANT array = MakeArray({1.5, 2.5});

  VARIANT textCopy, arrayCopy;
  VariantInit(&textCopy);
  VariantInit(&arrayCopy);
  ASSERT_EQ(VariantCopy(&textCopy, &text), S_OK);
  ASSERT_EQ(VariantCopy(&arrayCopy, &array), S_OK);
  EXPECT_NE(textCopy.bstrVal, text.bstrVal);
  EXPECT_EQ(BstrView(textCopy.bstrVal), u"Level");
  EXPECT_NE(arrayCopy.parray, array.parray);
  EXPECT_EQ(TaskMemOutstanding(), before + 4);

  // Copying over a variant that owns something frees what it held.
  ASSERT_EQ(VariantCopy(&textCopy, &array), S_OK);
  EXPECT_EQ(textCopy.vt, VT_ARRAY | VT_R8);
  EXPECT_EQ(TaskMemOutstanding(), before + 4);

  for (VARIANT* v : {&text, &array, &textCopy, &arrayCopy}) {
    EXPECT_EQ(VariantClear(v), S_OK);
    EXPECT_EQ(v->vt, VT_EMPTY);
  }
  EXPECT_EQ(TaskMemOutstanding(), before);
}

TEST(Variant, CopyOfSelfAndOfNullMembers) {
  std::size_t before = TaskMemOutstanding();
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(u"x");
  BSTR original = v.bstrVal;
  EXPECT_EQ(VariantCopy(&v, &v), S_OK);
  EXPECT_EQ(v.bstrVal, original);  // not freed and not duplicated
  VariantClear(&v);

  v.vt = VT_BSTR;
  v.bstrVal = nullptr;  // a null BSTR is an empty string
  VARIANT copy;
  VariantInit(&copy);
  EXPECT_EQ(VariantCopy(&copy, &v), S_OK);
  EXPECT_EQ(copy.bstrVal, nullptr);
  v.vt = VT_ARRAY | VT_UI1;
  v.parray = nullptr;
  EXPECT_EQ(VariantCopy(&copy, &v), S_OK);
  EXPECT_EQ(VariantClear(&copy), S_OK);
  EXPECT_EQ(TaskMemOutstanding(), before);
}

TEST(Variant, InterfacesAreReferencedNotCopied) {
  CountedObject object;
  VARIANT v, copy;
  VariantInit(&v);
  VariantInit(&copy);
  v.vt = VT_UNKNOWN;
  v.punkVal = &object;
  object.AddRef();  // the variant's reference
  ASSERT_EQ(VariantCopy(&copy, &v), S_OK);
  EXPECT_EQ(copy.punkVal, &object);
  EXPECT_EQ(object.refs, 3u);
  VariantClear(&copy);
  VariantClear(&v);
  EXPECT_EQ(object.refs, 1u);
}

TEST(Variant, ByRefIsCopiedAsItIsAndOwnsNothing) {
  std::size_t before = TaskMemOutstanding();
  BSTR owned = SysAllocString(u"kept");
  VARIANT ref, copy;
  VariantInit(&ref);
  VariantInit(&copy);
  ref.vt = VT_BYREF | VT_BSTR;
  ref.byref = &owned;
  ASSERT_EQ(VariantCopy(&copy, &ref), S_OK);
  EXPECT_EQ(copy.byref, &owned);
  VariantClear(&copy);
  VariantClear(&ref);
  EXPECT_EQ(BstrView(owned), u"kept");
  SysFreeString(owned);
  EXPECT_EQ(TaskMemOutstanding(), before);
}

TEST(Variant, BadTypesAreRefusedAndLeaveTheDestinationAlone) {
  VARIANT bad, dest;
  VariantInit(&bad);
  VariantInit(&dest);
  bad.vt = 0x7F;
  dest.vt = VT_I4;
  dest.lVal = 42;
  EXPECT_EQ(VariantCopy(&dest, &bad), DISP_E_BADVARTYPE);
  EXPECT_EQ(dest.vt, VT_I4);
  EXPECT_EQ(dest.lVal, 42);
  EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
  bad.vt = VT_VARIANT;  // only by reference
  EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
  bad.vt = VT_ARRAY | VT_EMPTY;
  EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
}

TEST(Variant, ClearRefusesALockedArray) {
  VARIANT v = MakeArray({1});
  void* data;
  SafeArrayAccessData(v.parray, &data);
  EXPECT_EQ(VariantClear(&v), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(v.vt, VT_ARRAY | VT_R8);
  SafeArrayUnaccessData(v.parray);
  EXPECT_EQ(VariantClear(&v), S_OK);
}

TEST(Variant, RaiiWrapperCopiesMovesAndClears) {
  std::size_t before = TaskMemOutstanding();
  {
    Variant a;
    a->vt = VT_BSTR;
    a->bstrVal = SysAllocString(u"abc");
    Variant b = a;  // deep
    EXPECT_NE(b->bstrVal, a->bstrVal);
    Variant c = std::move(a);
    EXPECT_EQ(a->vt, VT_EMPTY);
    b = c;
    c = std::move(b);
    EXPECT_EQ(BstrView(c->bstrVal), u"abc");
    VARIANT raw;
    VariantInit(&raw);
    raw.vt = VT_BSTR;
    raw.bstrVal = SysAllocString(u"adopted");
    Variant d = Variant::Adopt(&raw);
    EXPECT_EQ(raw.vt, VT_EMPTY);
  }
  EXPECT_EQ(TaskMemOutstanding(), before);
}

}  // namespace
}  // namespace com
