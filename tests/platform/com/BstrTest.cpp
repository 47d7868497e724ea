#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "platform/com/Memory.h"
#include "platform/com/Variant.h"

namespace com {
namespace {

std::uint32_t Prefix(BSTR b) {
  std::uint32_t prefix;
  std::memcpy(&prefix, reinterpret_cast<const unsigned char*>(b) - 4, 4);
  return prefix;
}

TEST(Bstr, LayoutIsByteCountCharactersAndZeroUnit) {
  std::size_t before = TaskMemOutstanding();
  BSTR b = SysAllocString(u"Tank1");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(Prefix(b), 10u);  // bytes, not characters
  EXPECT_EQ(SysStringLen(b), 5u);
  EXPECT_EQ(SysStringByteLen(b), 10u);
  EXPECT_EQ(b[5], 0);
  EXPECT_EQ(std::u16string(b), u"Tank1");
  EXPECT_EQ(TaskMemOutstanding(), before + 1);  // one block
  SysFreeString(b);
  EXPECT_EQ(TaskMemOutstanding(), before);
}

TEST(Bstr, LenKeepsEmbeddedZerosAndZeroFillsWithoutText) {
  const char16_t text[] = {u'a', 0, u'b', u'c'};
  BSTR b = SysAllocStringLen(text, 4);
  EXPECT_EQ(Prefix(b), 8u);
  EXPECT_EQ(SysStringLen(b), 4u);
  EXPECT_EQ(BstrView(b), std::u16string_view(text, 4));
  EXPECT_EQ(b[4], 0);
  SysFreeString(b);

  BSTR zeros = SysAllocStringLen(nullptr, 3);
  ASSERT_NE(zeros, nullptr);
  EXPECT_EQ(SysStringLen(zeros), 3u);
  for (int i = 0; i <= 3; ++i) EXPECT_EQ(zeros[i], 0);
  SysFreeString(zeros);

  BSTR part = SysAllocStringLen(u"Pressure", 5);  // copies only the first five
  EXPECT_EQ(BstrView(part), u"Press");
  SysFreeString(part);
}

TEST(Bstr, NullAndEmptyAreDistinct) {
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  EXPECT_TRUE(BstrView(nullptr).empty());
  SysFreeString(nullptr);

  BSTR empty = SysAllocString(u"");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(Prefix(empty), 0u);
  EXPECT_EQ(empty[0], 0);
  SysFreeString(empty);
}

TEST(Bstr, FromUtf8) {
  BSTR b = SysAllocStringUtf8(
      "Temp \xC2\xB0"
      "C");
  EXPECT_EQ(BstrView(b), u"Temp \u00B0C");
  SysFreeString(b);
}

}  // namespace
}  // namespace com
