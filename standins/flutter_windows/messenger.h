// The engine's messenger handle.
#ifndef STANDINS_FLUTTER_WINDOWS_MESSENGER_H_
#define STANDINS_FLUTTER_WINDOWS_MESSENGER_H_

#include <atomic>
#include <mutex>

#include "messaging/flutter_windows.h"

// Reference-counted, because replies the host keeps may outlive the engine;
// they then find the messenger unavailable. The lock is recursive: the host
// holds it across FlutterDesktopMessengerSendResponse, which takes it too.
struct FlutterDesktopMessenger {
 public:
  // Starts with one reference, the engine's.
  explicit FlutterDesktopMessenger(FlutterDesktopEngine* engine)
      : engine(engine) {}
  FlutterDesktopMessenger(const FlutterDesktopMessenger&) = delete;
  FlutterDesktopMessenger& operator=(const FlutterDesktopMessenger&) = delete;

  void AddRef() { references.fetch_add(1, std::memory_order_relaxed); }
  // The last reference deletes the messenger.
  void Release() {
    if (references.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }

  void Lock() { mutex.lock(); }
  void Unlock() { mutex.unlock(); }

  // The engine, or null once it has stopped; valid only while the caller
  // holds the lock.
  FlutterDesktopEngine* Engine() const { return engine; }

  // Called by the stopping engine; waits until no other thread holds the
  // lock, so no reply is in the middle of using the engine afterwards.
  void Detach() {
    std::lock_guard<std::recursive_mutex> lock(mutex);
    engine = nullptr;
  }

 private:
  ~FlutterDesktopMessenger() = default;

  std::atomic<int> references{1};
  std::recursive_mutex mutex;
  FlutterDesktopEngine* engine;
};

#endif  // STANDINS_FLUTTER_WINDOWS_MESSENGER_H_
