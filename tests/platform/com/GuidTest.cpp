#include <gtest/gtest.h>

#include "platform/com/Unknown.h"

namespace com {
namespace {

constexpr GUID kSample = {
    0x39C13A4D, 0x011E, 0x11D0, {0x96, 0x75, 0x00, 0x20, 0xAF, 0xD8, 0xAD, 0xB3}};

TEST(Guid, FormatsUpperCaseAndParsesEitherCase) {
  EXPECT_EQ(FormatGuid(kSample), "{39C13A4D-011E-11D0-9675-0020AFD8ADB3}");
  EXPECT_EQ(FormatGuid(IID_IUnknown), "{00000000-0000-0000-C000-000000000046}");
  GUID g{};
  ASSERT_TRUE(ParseGuid("{39c13a4d-011e-11d0-9675-0020afd8adb3}", &g));
  EXPECT_EQ(g, kSample);
  ASSERT_TRUE(ParseGuid(FormatGuid(IID_IClassFactory), &g));
  EXPECT_EQ(g, IID_IClassFactory);
}

TEST(Guid, RefusesMalformedTextAndLeavesTheResultAlone) {
  for (const char* bad : {"39C13A4D-011E-11D0-9675-0020AFD8ADB3",     // no braces
                          "{39C13A4D-011E-11D0-9675-0020AFD8ADB}",    // short
                          "{39C13A4D-011E-11D0-9675-0020AFD8ADB3}x",  // trailing
                          "{39C13A4D-011E-11D0-96750-020AFD8ADB3}",   // dash moved
                          "{39C13A4D+011E-11D0-9675-0020AFD8ADB3}",   // not a dash
                          "{39C13A4G-011E-11D0-9675-0020AFD8ADB3}",   // not hex
                          "{ 9C13A4D-011E-11D0-9675-0020AFD8ADB3}", ""}) {
    GUID g = kSample;
    EXPECT_FALSE(ParseGuid(bad, &g)) << bad;
    EXPECT_EQ(g, kSample);
  }
}

}  // namespace
}  // namespace com
