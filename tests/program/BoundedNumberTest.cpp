// Whole numbers from a range, as every program's options take them.
#include <gtest/gtest.h>

#include "program/BoundedNumber.h"

namespace tessaly {
namespace {

TEST(BoundedNumber, TakesOnlyWholeNumbersInsideTheRange) {
    EXPECT_EQ(program::boundedNumber("0", 0, 10), 0);
    EXPECT_EQ(program::boundedNumber("10", 0, 10), 10);
    EXPECT_EQ(program::boundedNumber("4000000000", 0, 4'000'000'000), 4'000'000'000);
    for (const char* refused : {"-1", "11", "", "x", "1.5", "3x", "99999999999999999999"})
        EXPECT_EQ(program::boundedNumber(refused, 0, 10), std::nullopt) << refused;
    EXPECT_EQ(program::wholeNumberRange("--reads", 1, 10),
              "--reads takes a whole number from 1 to 10");
}

}  // namespace
}  // namespace tessaly
