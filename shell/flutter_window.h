// The host's one window: runs the Flutter engine in its client area, serves
// the core channel "zorvane/xray", and shows itself after the first frame.
#ifndef SHELL_FLUTTER_WINDOW_H_
#define SHELL_FLUTTER_WINDOW_H_

#include <windows.h>

#include <memory>

#include "core/core_manager.h"
#include "messaging/engine_project.h"
#include "messaging/flutter_view_controller.h"
#include "messaging/method_channel.h"
#include "shell/win32_window.h"

namespace shell {

// Main thread only. The manager must outlive the window.
class FlutterWindow : public Win32Window {
 public:
  // Keeps its own copy of the project; nothing runs until Create.
  FlutterWindow(const EngineProject& project, core::CoreManager& manager);
  // Closes the channel, then the view controller and engine, then the native
  // window, whichever of them is still open.
  ~FlutterWindow() override;

 protected:
  // The embedder sees every message first and may answer it; when Windows
  // ends the session, the core manager hears of it before anyone else, and
  // when Restart Manager asks the program to close, the window closes.
  LRESULT HandleMessage(HWND window, UINT message, WPARAM wparam,
                        LPARAM lparam) override;
  // False, with the view controller's message on standard error, when the
  // embedder makes no engine or view; the window then stays hidden.
  bool OnCreate() override;
  // Closes the channel, then the view controller and engine.
  void OnDestroy() override;

 private:
  // WM_ENDSESSION with the session ending, for `reasons` (its lParam).
  void EndSession(HWND window, LPARAM reasons);

  EngineProject project;
  std::unique_ptr<flutter::FlutterViewController> viewController;
  std::unique_ptr<flutter::MethodChannel> coreChannel;
  core::CoreManager& manager;
};

}  // namespace shell

#endif  // SHELL_FLUTTER_WINDOW_H_
