#include "opc/TextHelpers.h"

#include <gtest/gtest.h>

#include <cstring>

#include "opc/FixedText.h"
#include "platform/com/Variant.h"

namespace tagwell {
namespace {

std::u16string Take(com::WCHAR* wide) {
  std::u16string s = wide ? std::u16string(wide) : u"<null>";
  FreeWide(wide);
  return s;
}

std::string TakeAnsi(char* narrow) {
  std::string s = narrow ? std::string(narrow) : "<null>";
  FreeAnsi(narrow);
  return s;
}

TEST(AnsiToWide, AsciiWidensUnitByUnitWithTerminator) {
  com::WCHAR* wide = AnsiToWide("Ab");
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(wide[0], 0x0041);
  EXPECT_EQ(wide[1], 0x0062);
  EXPECT_EQ(wide[2], 0x0000);
  EXPECT_EQ(TakeAnsi(WideToAnsi(wide)), "Ab");
  FreeWide(wide);
}

TEST(AnsiToWide, Utf8AndStrayBytes) {
  // A stray byte is the Latin-1 character of the same value, never sign-extended.
  EXPECT_EQ(Take(AnsiToWide("\xE9")), std::u16string(1, char16_t{0x00E9}));
  // Valid UTF-8 decodes: "é" and a character beyond the BMP.
  EXPECT_EQ(Take(AnsiToWide("caf\xC3\xA9")), u"caf\u00E9");
  EXPECT_EQ(Take(AnsiToWide("\xF0\x9F\x94\xA7")), u"\U0001F527");
  // A truncated sequence keeps its bytes as Latin-1 characters.
  EXPECT_EQ(Take(AnsiToWide("a\xC3")), u"a\u00C3");
  EXPECT_EQ(Take(AnsiToWide("")), u"");
  EXPECT_EQ(AnsiToWide(nullptr), nullptr);
}

TEST(WideToAnsi, RoundTripsAndReplacesLoneSurrogates) {
  EXPECT_EQ(TakeAnsi(WideToAnsi(u"Pump\u00E9 \U0001F527")), "Pump\xC3\xA9 \xF0\x9F\x94\xA7");
  const char16_t lone[] = {u'x', 0xD800, u'y', 0};
  EXPECT_EQ(TakeAnsi(WideToAnsi(lone)), "x\xEF\xBF\xBDy");
  EXPECT_EQ(WideToAnsi(nullptr), nullptr);
}

TEST(WideToBstr, HasByteLengthPrefixAndTerminator) {
  com::BSTR b = WideToBstr(u"abc");
  ASSERT_NE(b, nullptr);
  std::uint32_t prefix;
  std::memcpy(&prefix, reinterpret_cast<const char*>(b) - 4, 4);
  EXPECT_EQ(prefix, 6u);
  EXPECT_EQ(com::SysStringLen(b), 3u);
  EXPECT_EQ(b[3], 0);
  com::SysFreeString(b);

  com::BSTR empty = WideToBstr(u"");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(com::SysStringByteLen(empty), 0u);
  com::SysFreeString(empty);
  EXPECT_EQ(WideToBstr(nullptr), nullptr);
}

TEST(WideToBstr, GoesThroughVariantClear) {
  com::VARIANT v;
  com::VariantInit(&v);
  v.vt = com::VT_BSTR;
  v.bstrVal = WideToBstr(u"written");
  EXPECT_EQ(com::VariantClear(&v), com::S_OK);
  EXPECT_EQ(v.vt, com::VT_EMPTY);
}

TEST(AnsiToWide, UsesTheGivenAllocator) {
  com::IMalloc* malloc = nullptr;
  ASSERT_EQ(com::CoGetMalloc(com::MEMCTX_TASK, &malloc), com::S_OK);
  std::size_t before = com::TaskMemOutstanding();
  com::WCHAR* wide = AnsiToWide("x", malloc);
  EXPECT_EQ(com::TaskMemOutstanding(), before + 1);
  FreeWide(wide, malloc);
  EXPECT_EQ(com::TaskMemOutstanding(), before);
  FreeWide(nullptr, malloc);
  malloc->Release();
}

TEST(FixedText, KeepsAtMostCapacityMinusOneBytesOnACharacterBoundary) {
  FixedText<5> t("abcdef");
  EXPECT_EQ(t.view(), "abcd");
  // "ab" + "é" (2 bytes) + "c": the cut would split nothing.
  t = "ab\xC3\xA9"
      "c";
  EXPECT_EQ(t.view(), "ab\xC3\xA9");
  // "abc" + "é": keeping 4 bytes would split é, so it goes whole.
  t = "abc\xC3\xA9";
  EXPECT_EQ(t.view(), "abc");
  // A 4-byte character that does not fit at all.
  t = "\xF0\x9F\x94\xA7";
  EXPECT_EQ(t.view(), "\xF0\x9F\x94\xA7");
  FixedText<4> small("\xF0\x9F\x94\xA7");
  EXPECT_EQ(small.view(), "");
}

TEST(FixedText, FormatIsBounded) {
  FixedText<8> t;
  t.Format("%d-%s", 12345, "long tail");
  EXPECT_EQ(t.view(), "12345-l");
  t.Format("%6.1f", 0.3);
  EXPECT_EQ(t.view(), "   0.3");
}

}  // namespace
}  // namespace tagwell
