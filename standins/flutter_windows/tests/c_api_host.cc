// A small host written against the embedder's C interface alone, for the
// stand-in's tests: a top-level window with the view inside, and channels
// whose handlers answer in each of the ways a host can. What the tests cannot
// see through the driver it prints at exit, as key=value pairs.
//
//   c_api_host.exe ASSETS [more arguments]
//
// Every argument, ASSETS too, goes to the engine as an entry-point argument.
#include <windows.h>

#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "messaging/flutter_windows.h"

namespace {

using Handle = const FlutterDesktopMessageResponseHandle*;

DWORD platformThread = 0;
HWND window = nullptr;
FlutterDesktopViewControllerRef controller = nullptr;
FlutterDesktopMessengerRef messenger = nullptr;  // one reference of ours
int offPlatformThreadCalls = 0;
int frameCallbacks = 0;
bool visibleAtClose = false;
std::vector<Handle> unanswered;
std::vector<std::thread> repliers;

void NoteThread() {
  if (GetCurrentThreadId() != platformThread) ++offPlatformThreadCalls;
}

const uint8_t* Bytes(const std::string& text) {
  return reinterpret_cast<const uint8_t*>(text.data());
}

void Reply(Handle handle, const std::string& bytes) {
  FlutterDesktopMessengerSendResponse(messenger, handle, Bytes(bytes),
                                      bytes.size());
}

// Replies the way a host must from a thread of its own.
bool ReplyFromAnyThread(Handle handle, const std::string& bytes) {
  FlutterDesktopMessengerRef locked = FlutterDesktopMessengerLock(messenger);
  const bool available = FlutterDesktopMessengerIsAvailable(messenger);
  if (available) Reply(handle, bytes);
  FlutterDesktopMessengerUnlock(locked);
  return available;
}

void OnDriverAnswer(const uint8_t* data, size_t size, void* handle) {
  NoteThread();
  Reply(static_cast<Handle>(handle),
        std::string(reinterpret_cast<const char*>(data), size));
}

// "test/silent" keeps its messages unanswered until after shutdown, when
// the replies must be dropped; "test/later" replies from a thread of its own;
// "test/ask-driver" replies with the driver's answer to a question of ours.
using Handler = void (*)(Handle, const std::string& bytes);
const std::map<std::string, Handler> kHandlers = {
    {"test/echo", Reply},
    {"test/silent",
     [](Handle handle, const std::string&) { unanswered.push_back(handle); }},
    {"test/later",
     [](Handle handle, const std::string& bytes) {
       repliers.emplace_back([handle, bytes] {
         Sleep(100);
         ReplyFromAnyThread(handle, "later:" + bytes);
       });
     }},
    {"test/ask-driver",
     [](Handle handle, const std::string& bytes) {
       FlutterDesktopMessengerSendWithReply(
           messenger, "driver/question", Bytes(bytes), bytes.size(),
           OnDriverAnswer,
           const_cast<FlutterDesktopMessageResponseHandle*>(handle));
     }},
};

void OnMessage(FlutterDesktopMessengerRef, const FlutterDesktopMessage* message,
               void*) {
  NoteThread();
  kHandlers.find(message->channel)
      ->second(message->response_handle,
               std::string(reinterpret_cast<const char*>(message->message),
                           message->message_size));
}

void OnNextFrame(void*) {
  ++frameCallbacks;
  ShowWindow(window, SW_SHOWNORMAL);
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam,
                            LPARAM lparam) {
  LRESULT result = 0;
  if (controller && FlutterDesktopViewControllerHandleTopLevelWindowProc(
                        controller, hwnd, message, wparam, lparam, &result)) {
    return result;
  }
  if (message == WM_CLOSE) visibleAtClose = IsWindowVisible(hwnd);
  if (message != WM_DESTROY) {
    return DefWindowProcW(hwnd, message, wparam, lparam);
  }
  FlutterDesktopViewControllerDestroy(controller);
  controller = nullptr;
  PostQuitMessage(0);
  return 0;
}

// Makes the engine from copies of the arguments that are wiped and freed
// right after creation, as the real host's wrapper does.
FlutterDesktopEngineRef CreateEngine(int argc, char** argv) {
  std::vector<std::string> texts(argv + 1, argv + argc);
  const std::wstring assets(texts[0].begin(), texts[0].end());
  std::vector<const char*> pointers;
  for (const std::string& text : texts) pointers.push_back(text.c_str());
  FlutterDesktopEngineProperties properties = {};
  properties.assets_path = assets.c_str();
  properties.dart_entrypoint_argc = static_cast<int32_t>(pointers.size());
  properties.dart_entrypoint_argv = pointers.data();
  FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(&properties);
  for (std::string& text : texts) text.assign(text.size(), '#');
  return engine;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  platformThread = GetCurrentThreadId();
  FlutterDesktopResyncOutputStreams();
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"StandinTestHost";
  RegisterClassW(&windowClass);
  window = CreateWindowExW(0, windowClass.lpszClassName, L"stand-in test",
                           WS_OVERLAPPEDWINDOW, 10, 10, 900, 560, nullptr,
                           nullptr, windowClass.hInstance, nullptr);

  FlutterDesktopEngineRef engine = CreateEngine(argc, argv);
  controller = FlutterDesktopViewControllerCreate(800, 480, engine);
  if (controller == nullptr) return 1;
  // The controller owns the engine now; its handle stays valid meanwhile.
  messenger =
      FlutterDesktopMessengerAddRef(FlutterDesktopEngineGetMessenger(engine));
  for (const auto& [channel, handler] : kHandlers) {
    FlutterDesktopMessengerSetCallback(messenger, channel.c_str(), OnMessage,
                                       nullptr);
  }
  SetParent(FlutterDesktopViewGetHWND(
                FlutterDesktopViewControllerGetView(controller)),
            window);
  FlutterDesktopEngineSetNextFrameCallback(engine, OnNextFrame, nullptr);
  FlutterDesktopViewControllerForceRedraw(controller);
  const int frameCallbacksBeforeLoop = frameCallbacks;

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0)) DispatchMessageW(&message);

  for (std::thread& replier : repliers) replier.join();
  int dropped = 0;
  for (Handle handle : unanswered) {
    dropped += !ReplyFromAnyThread(handle, "too late");
  }
  std::printf(
      "messenger_available=%d late_replies_dropped=%d/%zu "
      "off_platform_thread_calls=%d frame_callbacks_before_loop=%d "
      "frame_callbacks=%d visible=%d dpi=%u\n",
      FlutterDesktopMessengerIsAvailable(messenger), dropped, unanswered.size(),
      offPlatformThreadCalls, frameCallbacksBeforeLoop, frameCallbacks,
      visibleAtClose,
      FlutterDesktopGetDpiForMonitor(
          MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY)));
  FlutterDesktopMessengerRelease(messenger);
  return 0;
}
