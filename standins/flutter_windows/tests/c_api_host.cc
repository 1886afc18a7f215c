// A host written against the embedder's C interface alone, for the stand-in's
// test of what the real host never makes the engine do: handlers that reply
// later from a thread of their own, not at all, or with the answer to a
// message of the host's own, and calls on a destroyed view controller and
// with null handles. At exit it prints what the driver cannot see: whether
// every callback ran on the platform thread, and whether the messenger it
// still holds knows that the engine is gone.
#include <windows.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "messaging/flutter_windows.h"

namespace {

using Handle = const FlutterDesktopMessageResponseHandle*;

DWORD platformThread = 0;
FlutterDesktopMessengerRef messenger = nullptr;  // one reference of ours
int offPlatformThreadCalls = 0;
std::vector<std::thread> repliers;

// "test/echo" replies at once, "test/later" from a thread of its own,
// "test/ask" with the driver's answer to the same bytes sent on
// "driver/question", and "test/silent" not at all.
void OnMessage(FlutterDesktopMessengerRef, const FlutterDesktopMessage* message,
               void*) {
  offPlatformThreadCalls += GetCurrentThreadId() != platformThread;
  const std::string channel = message->channel;
  const std::vector<uint8_t> bytes(message->message,
                                   message->message + message->message_size);
  Handle handle = message->response_handle;
  if (channel == "test/echo") {
    FlutterDesktopMessengerSendResponse(messenger, handle, bytes.data(),
                                        bytes.size());
  } else if (channel == "test/later") {
    repliers.emplace_back([handle, bytes] {
      Sleep(100);  // long after the handler returned
      // Locked and checked, as a host must reply from a thread of its own.
      auto locked = FlutterDesktopMessengerLock(messenger);
      if (FlutterDesktopMessengerIsAvailable(messenger)) {
        FlutterDesktopMessengerSendResponse(messenger, handle, bytes.data(),
                                            bytes.size());
      }
      FlutterDesktopMessengerUnlock(locked);
    });
  } else if (channel == "test/ask") {
    // The answer, on the platform thread too, is the reply.
    FlutterDesktopMessengerSendWithReply(
        messenger, "driver/question", message->message, message->message_size,
        [](const uint8_t* data, size_t size, void* handle) {
          offPlatformThreadCalls += GetCurrentThreadId() != platformThread;
          FlutterDesktopMessengerSendResponse(
              messenger, static_cast<Handle>(handle), data, size);
        },
        const_cast<FlutterDesktopMessageResponseHandle*>(handle));
  }
}

}  // namespace

int main(int argc, char** argv) {
  platformThread = GetCurrentThreadId();
  HWND window =
      CreateWindowExW(0, L"STATIC", L"stand-in test", WS_OVERLAPPEDWINDOW, 10,
                      10, 900, 560, nullptr, nullptr, nullptr, nullptr);

  // The command line's --driver-port=N goes to the engine.
  FlutterDesktopEngineProperties properties = {};
  properties.assets_path = L"data\\flutter_assets";
  properties.dart_entrypoint_argc = argc - 1;
  properties.dart_entrypoint_argv = const_cast<const char**>(argv + 1);
  FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(&properties);
  FlutterDesktopViewControllerRef controller =
      FlutterDesktopViewControllerCreate(800, 480, engine);
  // The messenger outlives the engine, which the controller owns.
  messenger =
      FlutterDesktopMessengerAddRef(FlutterDesktopEngineGetMessenger(engine));
  for (const char* channel :
       {"test/echo", "test/later", "test/silent", "test/ask"}) {
    FlutterDesktopMessengerSetCallback(messenger, channel, OnMessage, nullptr);
  }
  SetParent(FlutterDesktopViewGetHWND(
                FlutterDesktopViewControllerGetView(controller)),
            window);

  // The driver closes the window with a posted WM_CLOSE; the controller goes
  // first, as when the real host's window is destroyed.
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) && message.message != WM_CLOSE) {
    DispatchMessageW(&message);
  }
  FlutterDesktopViewControllerDestroy(controller);
  // Where a real engine would read freed memory or through a null handle,
  // the stand-in records a fault.
  FlutterDesktopViewControllerForceRedraw(controller);
  FlutterDesktopViewControllerForceRedraw(nullptr);
  FlutterDesktopViewControllerCreate(800, 480, nullptr);
  for (std::thread& replier : repliers) replier.join();
  std::printf("off_platform_thread_calls=%d messenger_available=%d\n",
              offPlatformThreadCalls,
              FlutterDesktopMessengerIsAvailable(messenger));
  FlutterDesktopMessengerRelease(messenger);
  return 0;
}
