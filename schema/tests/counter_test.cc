#include "schema/counter.h"

#include <gtest/gtest.h>

namespace schema {
namespace {

TEST(RaiseCounter, TakesTheLeadingNumberOrZero) {
  EXPECT_EQ(raiseCounter("0"), "1");
  EXPECT_EQ(raiseCounter("9"), "10");
  EXPECT_EQ(raiseCounter("abc"), "1");
  EXPECT_EQ(raiseCounter("12abc"), "13");
  EXPECT_EQ(raiseCounter(""), "1");
  EXPECT_EQ(raiseCounter(" 5"), "1");  // does not begin with a number
  EXPECT_EQ(raiseCounter("inf"), "1");
  EXPECT_EQ(raiseCounter("nan"), "1");
}

TEST(RaiseCounter, WritesTheShortestPlainDecimal) {
  EXPECT_EQ(raiseCounter("99999"), "100000");  // no exponent form
  EXPECT_EQ(raiseCounter("1.5"), "2.5");
  EXPECT_EQ(raiseCounter("-1"), "0");
  EXPECT_EQ(raiseCounter("-3"), "-2");
  EXPECT_EQ(raiseCounter("41 fields"), "42");
}

}  // namespace
}  // namespace schema
