#include "bench/bench_engine.h"

#include <cstdlib>

namespace bench_engine {
namespace {

struct Engine {
  FlutterDesktopMessageCallback callback = nullptr;
  void* userData = nullptr;
  std::vector<uint8_t> reply;
  bool answered = false;
} engine;

}  // namespace

const FlutterDesktopMessengerRef kMessenger =
    reinterpret_cast<FlutterDesktopMessengerRef>(&engine);

size_t DeliverMessage(const char* channel,
                      const std::vector<uint8_t>& message) {
  if (!engine.callback) std::abort();
  engine.answered = false;
  const FlutterDesktopMessage record{
      sizeof(record), channel, message.data(), message.size(),
      reinterpret_cast<const FlutterDesktopMessageResponseHandle*>(1)};
  engine.callback(kMessenger, &record, engine.userData);
  if (!engine.answered) std::abort();
  return engine.reply.size();
}

}  // namespace bench_engine

using bench_engine::engine;

extern "C" {

// Only the channel's incoming messages are benchmarked; sending from the
// host is not.
bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef, const char*,
                                 const uint8_t*, size_t) {
  return false;
}

bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef,
                                          const char*, const uint8_t*, size_t,
                                          FlutterDesktopBinaryReply, void*) {
  return false;
}

void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef, const char*,
                                        FlutterDesktopMessageCallback callback,
                                        void* user_data) {
  engine.callback = callback;
  engine.userData = user_data;
}

void FlutterDesktopMessengerSendResponse(
    FlutterDesktopMessengerRef, const FlutterDesktopMessageResponseHandle*,
    const uint8_t* data, size_t size) {
  engine.reply.assign(data, data + size);
  engine.answered = true;
}

FlutterDesktopMessengerRef FlutterDesktopMessengerAddRef(
    FlutterDesktopMessengerRef messenger) {
  return messenger;
}

void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef) {}

FlutterDesktopMessengerRef FlutterDesktopMessengerLock(
    FlutterDesktopMessengerRef messenger) {
  return messenger;
}

void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef) {}

bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef) {
  return true;
}

}  // extern "C"
