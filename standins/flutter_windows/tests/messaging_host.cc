// A small host built from the messaging layer, as the real host is: a
// FlutterViewController in a top-level window and one method channel with
// the standard codec, whose methods answer in each of the ways a method
// result can. Also what the demo screenshot shows.
//
//   messaging_host.exe [--driver-port=N] [more arguments]
//
// Methods on "test/method": "echo" answers its arguments, "fail" an error
// with the arguments as details, "ignore" nothing at all, "onPlatformThread"
// whether the handler ran on the platform thread; others are not
// implemented.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "codec/standard_method_codec.h"
#include "messaging/flutter_view_controller.h"
#include "messaging/method_channel.h"

namespace {

using flutter::EncodableValue;
using flutter::MethodCall;
using flutter::MethodResult;

struct Host {
  DWORD platformThread = 0;
  HWND window = nullptr;
  std::unique_ptr<flutter::FlutterViewController> controller;
  std::unique_ptr<flutter::MethodChannel> channel;
};

Host host;

void HandleCall(const MethodCall<EncodableValue>& call,
                std::unique_ptr<MethodResult<EncodableValue>> result) {
  const EncodableValue arguments =
      call.arguments() ? *call.arguments() : EncodableValue();
  if (call.method_name() == "echo") {
    result->Success(arguments);
  } else if (call.method_name() == "fail") {
    result->Error("bad_input", "the input was refused", &arguments);
  } else if (call.method_name() == "ignore") {
    // The result goes unanswered.
  } else if (call.method_name() == "onPlatformThread") {
    result->Success(
        EncodableValue(GetCurrentThreadId() == host.platformThread));
  } else {
    result->NotImplemented();
  }
}

void FitViewToWindow() {
  RECT client;
  GetClientRect(host.window, &client);
  MoveWindow(host.controller->View()->NativeWindow(), 0, 0, client.right,
             client.bottom, TRUE);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam,
                            LPARAM lparam) {
  if (host.controller) {
    if (std::optional<LRESULT> result =
            host.controller->HandleTopLevelWindowProc(window, message, wparam,
                                                      lparam)) {
      return *result;
    }
  }
  if (message == WM_SIZE && host.controller && host.controller->View()) {
    FitViewToWindow();
  } else if (message == WM_DESTROY) {
    host.channel.reset();
    host.controller.reset();
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

bool Start(const EngineProject& project) {
  RECT client;
  GetClientRect(host.window, &client);
  host.controller = std::make_unique<flutter::FlutterViewController>(
      client.right, client.bottom, project);
  if (!host.controller->View()) return false;
  SetParent(host.controller->View()->NativeWindow(), host.window);
  FitViewToWindow();
  host.channel = std::make_unique<flutter::MethodChannel>(
      host.controller->Engine()->Messenger(), "test/method",
      &flutter::StandardMethodCodec::GetInstance());
  host.channel->SetMethodCallHandler(HandleCall);
  host.controller->Engine()->SetNextFrameCallback(
      [] { ShowWindow(host.window, SW_SHOWNORMAL); });
  host.controller->ForceRedraw();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  host.platformThread = GetCurrentThreadId();
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"StandinMessagingHost";
  RegisterClassW(&windowClass);
  host.window =
      CreateWindowExW(0, windowClass.lpszClassName, L"stand-in messaging host",
                      WS_OVERLAPPEDWINDOW, 10, 10, 900, 560, nullptr, nullptr,
                      windowClass.hInstance, nullptr);

  EngineProject project;
  project.assetsPath = L"data\\flutter_assets";
  project.icuDataPath = L"data\\icudtl.dat";
  project.aotLibraryPath = L"data\\app.so";
  project.entrypointArguments.assign(argv + 1, argv + argc);
  if (!Start(project)) return 1;

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
