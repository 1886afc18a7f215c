// The engine's side of the messenger for the whole-call benchmarks: it keeps
// the one registered callback, delivers a message to it and copies the reply
// once, as an engine would, and records nothing else, so that what the
// benchmarks time is the host's own work.
#ifndef BENCH_BENCH_ENGINE_H_
#define BENCH_BENCH_ENGINE_H_

#include <cstdint>
#include <vector>

#include "messaging/flutter_windows.h"

namespace bench_engine {

extern const FlutterDesktopMessengerRef kMessenger;

// Delivers the message to the registered callback and answers the size of
// the reply it sent; aborts when no callback is registered or no reply came.
size_t DeliverMessage(const char* channel, const std::vector<uint8_t>& message);

}  // namespace bench_engine

#endif  // BENCH_BENCH_ENGINE_H_
