#include "shell/window_scaling.h"

#include <cmath>
#include <limits>

namespace shell {
namespace {

constexpr double kBaseDpi = 96.0;

// Converting a double outside the int32 range is undefined behaviour, so
// clamp before the (truncating) conversion.
int32_t ScaleAndTruncate(int32_t logical, double factor) {
  const double scaled = std::trunc(static_cast<double>(logical) * factor);
  constexpr double kMin = std::numeric_limits<int32_t>::min();
  constexpr double kMax = std::numeric_limits<int32_t>::max();
  if (scaled <= kMin) return std::numeric_limits<int32_t>::min();
  if (scaled >= kMax) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(scaled);
}

}  // namespace

ScaledPlacement ScaleToDpi(WindowPoint origin, WindowSize size, uint32_t dpi) {
  const double factor = dpi / kBaseDpi;
  return {
      {ScaleAndTruncate(origin.x, factor), ScaleAndTruncate(origin.y, factor)},
      {ScaleAndTruncate(size.width, factor),
       ScaleAndTruncate(size.height, factor)}};
}

}  // namespace shell
