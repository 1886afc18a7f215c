#include "messaging/callback_guard.h"

#include <iostream>

namespace flutter {

void ReportEscapedException(const char* callback_name,
                            const char* description) noexcept {
  try {
    std::cerr << "Error: Unhandled exception in " << callback_name << ": "
              << description << std::endl;
  } catch (...) {
    // Standard error itself failed; there is nowhere left to report to.
  }
}

}  // namespace flutter
