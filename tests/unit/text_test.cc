#include <gtest/gtest.h>
#include "driver/text.h"
TEST(Placeholder, Builds) { EXPECT_EQ(CompareIgnoringCase("a", "A"), 0); }
