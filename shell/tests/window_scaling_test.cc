#include "shell/window_scaling.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace shell {
namespace {

struct ScalingCase {
  const char* name;
  WindowPoint origin;
  WindowSize size;
  uint32_t dpi;
  ScaledPlacement expected;
};

// The host's own window (10, 10, 560 x 720) at the usual monitor scales, then
// the edges of the truncation and of the 32-bit range.
const ScalingCase kCases[] = {
    {"100 %", {10, 10}, {560, 720}, 96, {{10, 10}, {560, 720}}},
    {"150 %", {10, 10}, {560, 720}, 144, {{15, 15}, {840, 1080}}},
    {"125 %, 12.5 truncated",
     {10, 10},
     {560, 720},
     120,
     {{12, 12}, {700, 900}}},
    {"75 %, 7.5 truncated", {10, 10}, {561, 720}, 72, {{7, 7}, {420, 540}}},
    {"negatives truncate toward zero",
     {-10, -1},
     {0, 1},
     120,
     {{-12, -1}, {0, 1}}},
    {"beyond the range saturates",
     {INT32_MAX, INT32_MIN},
     {INT32_MAX, 1},
     192,
     {{INT32_MAX, INT32_MIN}, {INT32_MAX, 2}}},
};

TEST(ScaleToDpiTest, ScalesAndTruncatesEachCoordinate) {
  for (const ScalingCase& c : kCases) {
    SCOPED_TRACE(c.name);
    const ScaledPlacement placed = ScaleToDpi(c.origin, c.size, c.dpi);
    EXPECT_EQ(placed.origin.x, c.expected.origin.x);
    EXPECT_EQ(placed.origin.y, c.expected.origin.y);
    EXPECT_EQ(placed.size.width, c.expected.size.width);
    EXPECT_EQ(placed.size.height, c.expected.size.height);
  }
}

}  // namespace
}  // namespace shell
