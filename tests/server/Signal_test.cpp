// How simulated values move with time.
#include "server/Signal.h"

#include <gtest/gtest.h>

#include <set>

#include "server/AddressSpaceXml.h"
#include "tests/support/TestServer.h"

namespace tagwell::server {
namespace {

Signal Make(SignalKind kind, double low, double high, double period) {
  Signal s;
  s.kind = kind;
  s.low = low;
  s.high = high;
  s.periodSeconds = period;
  return s;
}

TEST(Signal, RampRisesOverOnePeriodAndStartsAgain) {
  const Signal ramp = Make(SignalKind::Ramp, 10, 20, 4);
  EXPECT_DOUBLE_EQ(SignalValue(ramp, 0, 0), 10);
  EXPECT_DOUBLE_EQ(SignalValue(ramp, 1, 0), 12.5);
  EXPECT_DOUBLE_EQ(SignalValue(ramp, 3.999, 0), 10 + 10 * 3.999 / 4);
  EXPECT_DOUBLE_EQ(SignalValue(ramp, 4, 0), 10);
  EXPECT_DOUBLE_EQ(SignalValue(ramp, 9, 0), 12.5);
}

TEST(Signal, SineSwingsBetweenLowAndHigh) {
  const Signal sine = Make(SignalKind::Sine, -1, 3, 8);
  EXPECT_NEAR(SignalValue(sine, 0, 0), 1, 1e-12);
  EXPECT_NEAR(SignalValue(sine, 2, 0), 3, 1e-12);
  EXPECT_NEAR(SignalValue(sine, 6, 0), -1, 1e-12);
  EXPECT_NEAR(SignalValue(sine, 8, 0), 1, 1e-12);
}

TEST(Signal, CounterStepsOncePerPeriodAndWraps) {
  const Signal counter = Make(SignalKind::Counter, 5, 7, 2);
  const double expected[] = {5, 5, 6, 6, 7, 7, 5, 5};
  for (int second = 0; second < 8; ++second)
    EXPECT_EQ(SignalValue(counter, second, 0), expected[second]) << second;
  // The whole unsigned 32-bit range counts without loss.
  const Signal wide = Make(SignalKind::Counter, 0, 4294967295.0, 1);
  EXPECT_EQ(SignalValue(wide, 3000000000.0, 0), 3000000000.0);
  EXPECT_EQ(SignalValue(wide, 4294967296.0, 0), 0.0);
}

TEST(Signal, RandomIsRepeatableStaysInRangeAndHoldsForAPeriod) {
  const Signal random = Make(SignalKind::Random, 2, 4, 5);
  std::set<double> seen;
  for (int step = 0; step < 200; ++step) {
    const double v = SignalValue(random, step * 5.0, 42);
    EXPECT_GE(v, 2);
    EXPECT_LE(v, 4);
    EXPECT_EQ(v, SignalValue(random, step * 5.0 + 4.9, 42));  // one value for a whole period
    EXPECT_EQ(v, SignalValue(random, step * 5.0, 42));        // the same instant, the same value
    seen.insert(v);
  }
  EXPECT_GT(seen.size(), 190u);
  EXPECT_NE(SignalValue(random, 0, 42), SignalValue(random, 0, 43));  // items differ
}

TEST(Signal, KindsHaveTheirFileNames) {
  for (SignalKind kind : {SignalKind::Static, SignalKind::Random, SignalKind::Ramp,
                          SignalKind::Sine, SignalKind::Counter})
    EXPECT_EQ(SignalKindFromName(SignalKindName(kind)), kind);
  EXPECT_FALSE(SignalKindFromName("Sine"));
}

TEST(Signal, ItemsServeSignalsInTheirTypeAtTheClocksTime) {
  auto clock = std::make_shared<testing::ManualClock>(testing::TestEpoch());
  AddressSpaceFile file = ParseAddressSpaceXml(R"(<AddressSpace>
      <Item name="I" type="VT_I2" signal="ramp" low="0" high="10" period="10"/>
      <Item name="B" type="VT_BOOL" signal="ramp" low="0" high="1" period="10"/>
      <Item name="T" type="VT_BSTR" signal="counter" low="0" high="99" period="1"/>
    </AddressSpace>)",
                                               "s.xml");
  ASSERT_TRUE(file.definition) << file.error;
  auto space = AddressSpace::Create(std::move(*file.definition), clock, {}, nullptr);
  clock->Advance(std::chrono::milliseconds(4500));
  ItemReading i = space->Read(*space->FindItem("I"));
  EXPECT_EQ(i.value->vt, com::VT_I2);
  EXPECT_EQ(i.value->iVal, 4);  // 4.5 rounds half to even
  EXPECT_EQ(com::FileTimeTicks(i.timeStamp), com::FileTimeTicks(clock->Now()));
  EXPECT_EQ(space->Read(*space->FindItem("B")).value->boolVal, com::VARIANT_FALSE);  // 0.45
  clock->Advance(std::chrono::seconds(1));
  EXPECT_EQ(space->Read(*space->FindItem("B")).value->boolVal, com::VARIANT_TRUE);  // 0.55
  EXPECT_EQ(space->Read(*space->FindItem("T")).value->vt, com::VT_BSTR);
}

}  // namespace
}  // namespace tagwell::server
