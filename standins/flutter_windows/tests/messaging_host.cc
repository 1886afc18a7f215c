// A small host built from the messaging layer, as the real host is: a
// FlutterViewController in a top-level window and one method channel with
// the standard codec, whose methods answer in each of the ways a method
// result can. Also what the demo screenshot shows.
//
//   messaging_host.exe [--driver-port=N] [more arguments]
//
// Methods on "test/method": "echo" answers its arguments, "fail" an error
// with the arguments as details, "ignore" nothing at all; others are not
// implemented.
#include <windows.h>

#include <memory>

#include "codec/standard_method_codec.h"
#include "messaging/flutter_view_controller.h"
#include "messaging/method_channel.h"

namespace {

using flutter::EncodableValue;

std::unique_ptr<flutter::FlutterViewController> controller;
std::unique_ptr<flutter::MethodChannel> channel;

void HandleCall(const flutter::MethodCall<EncodableValue>& call,
                std::unique_ptr<flutter::MethodResult<EncodableValue>> result) {
  const EncodableValue arguments =
      call.arguments() ? *call.arguments() : EncodableValue();
  if (call.method_name() == "echo") {
    result->Success(arguments);
  } else if (call.method_name() == "fail") {
    result->Error("bad_input", "the input was refused", &arguments);
  } else if (call.method_name() != "ignore") {
    result->NotImplemented();
  }
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam,
                            LPARAM lparam) {
  if (message != WM_DESTROY) {
    return DefWindowProcW(window, message, wparam, lparam);
  }
  channel.reset();
  controller.reset();
  PostQuitMessage(0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"StandinMessagingHost";
  RegisterClassW(&windowClass);
  HWND window =
      CreateWindowExW(0, windowClass.lpszClassName, L"stand-in messaging host",
                      WS_OVERLAPPEDWINDOW, 10, 10, 900, 560, nullptr, nullptr,
                      windowClass.hInstance, nullptr);

  EngineProject project;
  project.assetsPath = L"data\\flutter_assets";
  project.entrypointArguments.assign(argv + 1, argv + argc);
  RECT client;
  GetClientRect(window, &client);
  controller = std::make_unique<flutter::FlutterViewController>(
      client.right, client.bottom, project);
  if (!controller->View()) return 1;
  SetParent(controller->View()->NativeWindow(), window);
  channel = std::make_unique<flutter::MethodChannel>(
      controller->Engine()->Messenger(), "test/method",
      &flutter::StandardMethodCodec::GetInstance());
  channel->SetMethodCallHandler(HandleCall);
  controller->Engine()->SetNextFrameCallback(
      [window] { ShowWindow(window, SW_SHOWNORMAL); });
  controller->ForceRedraw();

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0)) DispatchMessageW(&message);
  return 0;
}
