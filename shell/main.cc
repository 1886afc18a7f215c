// The host's entry point: console, COM, the window over the engine's files
// in "data", and the message loop until the window is closed.

// objbase.h needs windows.h before it.
// clang-format off
#include <windows.h>
#include <objbase.h>
// clang-format on

#include <string>
#include <utility>
#include <vector>

#include "core/core_manager.h"
#include "core/proxy_check.h"
#include "core/windows_platform.h"
#include "messaging/callback_guard.h"
#include "shell/flutter_window.h"
#include "shell/startup.h"
#include "win/text.h"

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

// Started from the sign-in key or by the installer: switches a dead proxy of
// the host's own off and ends, with no console, window or engine, and
// without writing the sign-in key it may have been started from.
bool IsProxyCheckRun(const std::vector<std::string>& arguments) {
  return arguments.size() == 1 &&
         arguments[0] == win::WideToUtf8(core::kProxyCheckArgument);
}

int RunProxyCheck() {
  core::WindowsPlatform platform;
  core::ActivityLog unread;  // No user interface will read it.
  core::SwitchOffDeadProxy(platform, unread);
  return kExitOk;
}

int RunHost(std::vector<std::string> arguments) {
  ConnectConsole();
  // Declared before the window, so that it is released only after the
  // engine has ended, whichever way the loop ended.
  const ComApartment apartment;

  EngineProject project = shell::EngineProjectFor(L"data");
  project.entrypointArguments = std::move(arguments);

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
  flutter::RunGuarded("the entry point", [&] {
    std::vector<std::string> arguments = shell::ReadCommandLineArguments();
    exitCode = IsProxyCheckRun(arguments) ? RunProxyCheck()
                                          : RunHost(std::move(arguments));
  });
  return exitCode;
}
