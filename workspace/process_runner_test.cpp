#include "workspace/process_runner.h"

#include <gtest/gtest.h>

namespace {

TEST(IsExceptionStatus, FromTheFirstErrorStatusUp) {
  EXPECT_FALSE(IsExceptionStatus(0xBFFFFFFFUL));
  EXPECT_TRUE(IsExceptionStatus(0xC0000000UL));
  EXPECT_TRUE(IsExceptionStatus(0xFFFFFFFFUL));
}

}  // namespace
