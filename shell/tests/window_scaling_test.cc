// The arithmetic's edges; the host's own window at 96 and 144 DPI is the
// end-to-end suite's to check.
#include "shell/window_scaling.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

namespace shell {
namespace {

using Placement = std::array<int32_t, 4>;  // x, y, width, height

TEST(ScaleToDpiTest, ScalesAndTruncatesEachCoordinate) {
  const struct {
    Placement logical;
    uint32_t dpi;
    Placement scaled;
  } kCases[] = {
      {{10, 10, 560, 720}, 120, {12, 12, 700, 900}},  // 12.5 truncated
      {{10, 10, 561, 720}, 72, {7, 7, 420, 540}},     // 7.5 and 420.75
      {{-10, -1, 0, 1}, 120, {-12, -1, 0, 1}},        // toward zero
      {{INT32_MAX, INT32_MIN, INT32_MAX, 1},  // saturated, not overflowed
       192,
       {INT32_MAX, INT32_MIN, INT32_MAX, 2}},
  };
  for (const auto& c : kCases) {
    const ScaledPlacement placed = ScaleToDpi(
        {c.logical[0], c.logical[1]}, {c.logical[2], c.logical[3]}, c.dpi);
    EXPECT_EQ((Placement{placed.origin.x, placed.origin.y, placed.size.width,
                         placed.size.height}),
              c.scaled)
        << c.dpi << " DPI";
  }
}

}  // namespace
}  // namespace shell
