#include "shell/flutter_window.h"

#include <utility>

#include "codec/standard_method_codec.h"
#include "core/xray_channel_handler.h"
#include "messaging/plugin_registry.h"

namespace shell {
namespace {

// The host has no plug-ins; the registry is offered and left as it is.
void RegisterPlugins(flutter::PluginRegistry* /*registry*/) {}

}  // namespace

FlutterWindow::FlutterWindow(const EngineProject& project,
                             core::CoreManager& manager)
    : project(project), manager(manager) {}

FlutterWindow::~FlutterWindow() {
  // The loop can end on a WM_QUIT that WM_DESTROY did not post (another
  // program's, or GetMessageW failing) with the engine still running. Take
  // WM_DESTROY's path while this class's hooks still answer: the channel,
  // then the controller, cleared before it goes, then the native window.
  Destroy();
}

bool FlutterWindow::OnCreate() {
  if (!Win32Window::OnCreate()) return false;

  const RECT area = ClientArea();
  // Assigned after construction, so a controller held before goes after
  // its replacement exists.
  viewController = std::make_unique<flutter::FlutterViewController>(
      area.right - area.left, area.bottom - area.top, project);
  if (viewController->Engine() == nullptr ||
      viewController->View() == nullptr) {
    return false;
  }
  RegisterPlugins(viewController->Engine());
  AttachChildWindow(viewController->View()->NativeWindow());

  coreChannel = std::make_unique<flutter::MethodChannel>(
      viewController->Engine()->Messenger(), core::kXrayChannelName,
      &flutter::StandardMethodCodec::GetInstance());
  coreChannel->SetMethodCallHandler(core::XrayChannelHandler(manager));
  // Before the first call is answered: a proxy of ours left on by a host or
  // core that is gone would cut the user off until they connect and
  // disconnect again.
  manager.SwitchOffDeadProxy();

  viewController->Engine()->SetNextFrameCallback([this] { Show(); });
  // The callback is in place: the frame this asks for will show the window.
  viewController->ForceRedraw();
  return true;
}

void FlutterWindow::OnDestroy() {
  // The channel's handler stays registered with the messenger, but no call
  // reaches it once the engine below is gone.
  coreChannel = nullptr;
  if (viewController) {
    // Cleared first: messages the closing view sends its parent find no
    // half-destroyed controller to be offered to.
    const auto closing = std::move(viewController);
  }
  Win32Window::OnDestroy();
}

LRESULT FlutterWindow::HandleMessage(HWND window, UINT message, WPARAM wparam,
                                     LPARAM lparam) {
  if (message == WM_ENDSESSION && wparam != FALSE) EndSession(window, lparam);

  if (viewController) {
    if (const auto result = viewController->HandleTopLevelWindowProc(
            window, message, wparam, lparam)) {
      return *result;
    }
  }
  if (message == WM_FONTCHANGE && viewController) {
    viewController->Engine()->ReloadSystemFonts();
  }
  return Win32Window::HandleMessage(window, message, wparam, lparam);
}

void FlutterWindow::EndSession(HWND window, LPARAM reasons) {
  if (reasons & ENDSESSION_CLOSEAPP) {
    // Restart Manager, for an update or an install: the session goes on, and
    // the program must shut down. It closes as the user closes it, leaving
    // the core and the proxy as any close leaves them.
    PostMessageW(window, WM_CLOSE, 0, 0);
    return;
  }
  // Before the embedder: whatever it does with the message, the session ends
  // and the core with it, so the system proxy must not stay pointed at it.
  manager.OnSessionEnding();
}

}  // namespace shell
