// The top-level window's placement in logical units and its conversion to the
// physical pixels of a monitor. Portable: no Windows types.
#ifndef SHELL_WINDOW_SCALING_H_
#define SHELL_WINDOW_SCALING_H_

#include <cstdint>

namespace shell {

// Logical units are pixels at 96 DPI (100 %).
struct WindowPoint {
  int32_t x;
  int32_t y;
};

struct WindowSize {
  int32_t width;
  int32_t height;
};

struct ScaledPlacement {
  WindowPoint origin;
  WindowSize size;
};

// Multiplies each coordinate by dpi / 96 and truncates toward zero (120 DPI
// turns 10 into 12). A product beyond the 32-bit range saturates at its
// limit instead of overflowing.
ScaledPlacement ScaleToDpi(WindowPoint origin, WindowSize size, uint32_t dpi);

}  // namespace shell

#endif  // SHELL_WINDOW_SCALING_H_
