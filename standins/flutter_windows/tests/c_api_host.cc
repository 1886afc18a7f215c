// A small host written against the embedder's C interface alone, for the
// stand-in's tests: a top-level window with the view inside, and channels
// whose handlers answer in each of the ways a host can. What the tests cannot
// see through the driver it prints on standard output at exit.
//
//   c_api_host.exe [--assets=PATH] [--driver-port=N] [more arguments]
//
// Every argument goes to the engine as an entry-point argument.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "messaging/flutter_windows.h"

namespace {

struct Host {
  DWORD platformThread = 0;
  HWND window = nullptr;
  FlutterDesktopViewControllerRef controller = nullptr;
  FlutterDesktopMessengerRef messenger = nullptr;  // one reference of ours
  int platformThreadCalls = 0;
  int otherThreadCalls = 0;
  int frameCallbacks = 0;
  int frameCallbacksBeforeLoop = -1;
  std::vector<const FlutterDesktopMessageResponseHandle*> unanswered;
  std::vector<std::thread> repliers;
};

Host host;

void Reply(const FlutterDesktopMessageResponseHandle* handle,
           const std::string& bytes) {
  FlutterDesktopMessengerSendResponse(
      host.messenger, handle, reinterpret_cast<const uint8_t*>(bytes.data()),
      bytes.size());
}

// Replies the way a host must from a thread of its own.
bool ReplyFromAnyThread(const FlutterDesktopMessageResponseHandle* handle,
                        const std::string& bytes) {
  FlutterDesktopMessengerRef locked =
      FlutterDesktopMessengerLock(host.messenger);
  const bool available = FlutterDesktopMessengerIsAvailable(host.messenger);
  if (available) Reply(handle, bytes);
  FlutterDesktopMessengerUnlock(locked);
  return available;
}

void OnDriverAnswer(const uint8_t* data, size_t size, void* userData) {
  const auto* handle =
      static_cast<const FlutterDesktopMessageResponseHandle*>(userData);
  Reply(handle, std::string(reinterpret_cast<const char*>(data), size));
}

void OnMessage(FlutterDesktopMessengerRef, const FlutterDesktopMessage* message,
               void*) {
  ++(GetCurrentThreadId() == host.platformThread ? host.platformThreadCalls
                                                 : host.otherThreadCalls);
  const std::string channel = message->channel;
  const std::string bytes(reinterpret_cast<const char*>(message->message),
                          message->message_size);
  const FlutterDesktopMessageResponseHandle* handle = message->response_handle;
  if (channel == "test/echo") {
    Reply(handle, bytes);
  } else if (channel == "test/empty") {
    FlutterDesktopMessengerSendResponse(host.messenger, handle, nullptr, 0);
  } else if (channel == "test/silent") {
    host.unanswered.push_back(handle);
  } else if (channel == "test/later") {
    host.repliers.emplace_back([handle, bytes] {
      Sleep(100);
      ReplyFromAnyThread(handle, "later:" + bytes);
    });
  } else if (channel == "test/ask-driver") {
    FlutterDesktopMessengerSendWithReply(
        host.messenger, "driver/question",
        reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
        OnDriverAnswer,
        const_cast<FlutterDesktopMessageResponseHandle*>(handle));
  } else if (channel == "test/state") {
    Reply(handle,
          "platform_thread_calls=" + std::to_string(host.platformThreadCalls) +
              " other_thread_calls=" + std::to_string(host.otherThreadCalls) +
              " frame_callbacks=" + std::to_string(host.frameCallbacks) +
              " frame_callbacks_before_loop=" +
              std::to_string(host.frameCallbacksBeforeLoop) + " visible=" +
              std::to_string(IsWindowVisible(host.window)) + " dpi=" +
              std::to_string(FlutterDesktopGetDpiForMonitor(
                  MonitorFromWindow(host.window, MONITOR_DEFAULTTONEAREST))));
  }
}

void OnNextFrame(void*) {
  ++host.frameCallbacks;
  ShowWindow(host.window, SW_SHOWNORMAL);
}

void FitViewToWindow() {
  RECT client;
  GetClientRect(host.window, &client);
  MoveWindow(FlutterDesktopViewGetHWND(
                 FlutterDesktopViewControllerGetView(host.controller)),
             0, 0, client.right, client.bottom, TRUE);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam,
                            LPARAM lparam) {
  LRESULT result = 0;
  if (host.controller &&
      FlutterDesktopViewControllerHandleTopLevelWindowProc(
          host.controller, window, message, wparam, lparam, &result)) {
    return result;
  }
  if (message == WM_SIZE && host.controller) {
    FitViewToWindow();
  } else if (message == WM_DESTROY) {
    FlutterDesktopViewControllerDestroy(host.controller);
    host.controller = nullptr;
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

// Makes the engine from copies of the arguments that are wiped and freed
// right after creation, as the real host's wrapper does.
FlutterDesktopEngineRef CreateEngine(const std::wstring& assets, int argc,
                                     char** argv) {
  std::vector<std::string> texts(argv + 1, argv + argc);
  std::vector<const char*> pointers;
  for (const std::string& text : texts) pointers.push_back(text.c_str());
  FlutterDesktopEngineProperties properties = {};
  properties.assets_path = assets.c_str();
  properties.icu_data_path = L"data\\icudtl.dat";
  properties.aot_library_path = L"data\\app.so";
  properties.dart_entrypoint = "";
  properties.dart_entrypoint_argc = static_cast<int32_t>(pointers.size());
  properties.dart_entrypoint_argv =
      pointers.empty() ? nullptr : pointers.data();
  FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(&properties);
  for (std::string& text : texts) text.assign(text.size(), '#');
  return engine;
}

std::wstring AssetsArgument(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--assets=", 9) == 0) {
      const std::string path = argv[i] + 9;
      return std::wstring(path.begin(), path.end());
    }
  }
  return L"data\\flutter_assets";
}

}  // namespace

int main(int argc, char** argv) {
  host.platformThread = GetCurrentThreadId();
  FlutterDesktopResyncOutputStreams();
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"StandinTestHost";
  RegisterClassW(&windowClass);
  host.window = CreateWindowExW(0, windowClass.lpszClassName, L"stand-in test",
                                WS_OVERLAPPEDWINDOW, 10, 10, 900, 560, nullptr,
                                nullptr, windowClass.hInstance, nullptr);

  FlutterDesktopEngineRef engine =
      CreateEngine(AssetsArgument(argc, argv), argc, argv);
  std::printf("engine: %s\n", engine ? "created" : "none");
  RECT client;
  GetClientRect(host.window, &client);
  host.controller =
      FlutterDesktopViewControllerCreate(client.right, client.bottom, engine);
  if (host.controller == nullptr) {
    std::printf("view controller: none\n");
    return 1;
  }
  // The controller owns the engine now; its handle stays valid meanwhile.
  host.messenger =
      FlutterDesktopMessengerAddRef(FlutterDesktopEngineGetMessenger(engine));
  for (const char* channel : {"test/echo", "test/empty", "test/silent",
                              "test/later", "test/ask-driver", "test/state"}) {
    FlutterDesktopMessengerSetCallback(host.messenger, channel, OnMessage,
                                       nullptr);
  }
  HWND view = FlutterDesktopViewGetHWND(
      FlutterDesktopViewControllerGetView(host.controller));
  SetParent(view, host.window);
  FitViewToWindow();
  FlutterDesktopEngineSetNextFrameCallback(engine, OnNextFrame, nullptr);
  FlutterDesktopViewControllerForceRedraw(host.controller);
  host.frameCallbacksBeforeLoop = host.frameCallbacks;

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }

  for (std::thread& replier : host.repliers) replier.join();
  int dropped = 0;
  for (const FlutterDesktopMessageResponseHandle* handle : host.unanswered) {
    dropped += ReplyFromAnyThread(handle, "too late") ? 0 : 1;
  }
  std::printf(
      "messenger available after shutdown: %s\n",
      FlutterDesktopMessengerIsAvailable(host.messenger) ? "yes" : "no");
  std::printf("late replies dropped: %d of %zu\n", dropped,
              host.unanswered.size());
  std::printf("frame callbacks: %d\n", host.frameCallbacks);
  FlutterDesktopMessengerRelease(host.messenger);
  return 0;
}
