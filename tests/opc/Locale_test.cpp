// Numbers keep their decimal point under a comma-decimal desktop locale:
// what the operator types for a write, and the value texts of the columns.

#include "tests/opc/OpsFixture.h"
#include "tests/support/CommaLocale.h"

namespace tagwell::testing {
namespace {

class CommaLocaleTest : public OpsTest {
 protected:
  ScopedCommaLocale comma_;
};

TEST_F(CommaLocaleTest, WritesAndValueTextsUseTheDecimalPoint) {
  TAGWELL_REQUIRE_COMMA_LOCALE(comma_);
  Connect();
  const int real = AddCanonical("Diagnostics.Values.Double");
  const int half = AddCanonical("Diagnostics.Values.HalfFloat");
  const int array = AddCanonical("Line1.Recipe");
  EXPECT_EQ(window.values.Lines(), (Lines{"2.5000", "1.5000", "[4] 1.5000 2.5000 3.7500 10.0000"}));
  EXPECT_EQ(Write(real, "53.50292"), 0);
  EXPECT_EQ(Write(half, "0.25"), 0);
  EXPECT_EQ(Write(real, "2,5"), 1) << "the desktop's decimal comma is not a number here";
  EXPECT_EQ(ServerValue("Diagnostics.Values.Double")->dblVal, 53.50292);
  EXPECT_EQ(ServerValue("Diagnostics.Values.HalfFloat")->fltVal, 0.25f);
  ReadRow(real);
  ReadRow(half);
  ReadRow(array);
  EXPECT_EQ(window.values.Lines(),
            (Lines{"53.5029", "0.2500", "[4] 1.5000 2.5000 3.7500 10.0000"}));
}

}  // namespace
}  // namespace tagwell::testing
