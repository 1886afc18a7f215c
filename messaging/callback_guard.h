// Keeps C++ exceptions out of the embedder, which calls us through plain C
// function pointers and cannot unwind.
#ifndef MESSAGING_CALLBACK_GUARD_H_
#define MESSAGING_CALLBACK_GUARD_H_

#include <exception>

namespace flutter {

// Writes one line naming the callback and the exception to standard error.
void ReportEscapedException(const char* callback_name,
                            const char* description) noexcept;

// Runs body; an exception it throws is reported and goes no further.
template <typename Body>
void RunGuarded(const char* callback_name, Body&& body) noexcept {
  try {
    body();
  } catch (const std::exception& error) {
    ReportEscapedException(callback_name, error.what());
  } catch (...) {
    ReportEscapedException(callback_name, "unknown exception");
  }
}

}  // namespace flutter

#endif  // MESSAGING_CALLBACK_GUARD_H_
