#include <gtest/gtest.h>

#include "kmtv1.h"

TEST(Version, IsOneZeroFortyThree) {
  int32_t major = 0, minor = 0, build = 0;
  KMT_GetDriverVersion(&major, &minor, &build);
  EXPECT_EQ(major, 1);
  EXPECT_EQ(minor, 0);
  EXPECT_EQ(build, 43);
}
