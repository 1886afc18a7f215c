// The host's entry point: console, COM, the window over the engine's files
// in "data", and the message loop until the window is closed.

// objbase.h needs windows.h before it.
// clang-format off
#include <windows.h>
#include <objbase.h>
// clang-format on

#include "core/core_manager.h"
#include "core/windows_platform.h"
#include "messaging/callback_guard.h"
#include "shell/flutter_window.h"
#include "shell/startup.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitWindowFailed = 1;

// The user-interface thread's single-threaded apartment, released when this
// goes if it was had. A failure leaves COM to whoever needs it.
class ComApartment {
 public:
  ComApartment()
      : initialized(
            SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~ComApartment() {
    if (initialized) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  const bool initialized;
};

// Attaches to the console of whoever started us; a process started by a
// debugger without one gets a console of its own.
void ConnectConsole() {
  if (!AttachConsole(ATTACH_PARENT_PROCESS) && IsDebuggerPresent()) {
    shell::OpenDebugConsole();
  }
}

int RunMessageLoop() {
  MSG message;
  // GetMessageW answers -1 on failure: that ends the loop too, instead of
  // spinning on a message that was never filled in.
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return kExitOk;
}

int RunHost() {
  ConnectConsole();
  // Declared before the window, so that it is released only after the
  // engine has ended, whichever way the loop ended.
  const ComApartment apartment;

  EngineProject project = shell::EngineProjectFor(L"data");
  project.entrypointArguments = shell::ReadCommandLineArguments();

  // The core manager's state lives as long as the process; the window only
  // borrows it.
  core::WindowsPlatform platform;
  core::CoreManager manager(platform);
  shell::FlutterWindow window(project, manager);
  if (!window.Create(L"zorvane", {10, 10}, {560, 720})) {
    return kExitWindowFailed;
  }
  window.SetQuitWhenClosed(true);

  return RunMessageLoop();
}

}  // namespace

int APIENTRY wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/,
                      wchar_t* /*commandLine*/, int /*showCommand*/) {
  // Nothing may leave wWinMain by an exception: report it and fail the way
  // a window that cannot be made fails.
  int exitCode = kExitWindowFailed;
  flutter::RunGuarded("the entry point", [&] { exitCode = RunHost(); });
  return exitCode;
}
