#include "shell/win32_window.h"

#include <dwmapi.h>

#include "messaging/callback_guard.h"
#include "messaging/flutter_windows.h"
#include "shell/resources/resource_ids.h"

namespace shell {
namespace {

constexpr wchar_t kWindowClassName[] = L"FLUTTER_RUNNER_WIN32_WINDOW";

constexpr wchar_t kThemeKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";
constexpr wchar_t kLightThemeValue[] = L"AppsUseLightTheme";
// DWMWA_USE_IMMERSIVE_DARK_MODE, which older SDKs do not name.
constexpr DWORD kDarkModeAttribute = 20;

// Created on first use and never freed: the class may outlive every window.
struct WindowClassState {
  bool classRegistered = false;
};

WindowClassState& ClassState() {
  static WindowClassState state;  // Trivially destructible: no exit order.
  return state;
}

void RegisterWindowClassOnce(WNDPROC procedure) {
  WindowClassState& state = ClassState();
  if (state.classRegistered) return;
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW windowClass = {};
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(ZV_APP_ICON));
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = kWindowClassName;
  // A failure shows when the window cannot be created.
  RegisterClassW(&windowClass);
  state.classRegistered = true;
}

// Lets Windows scale the caption and frame with the monitor's DPI. Looked up
// at run time because systems before Windows 10 (1607) lack the function.
void EnableNonClientScalingIfOffered(HWND window) {
  using EnableNonClientDpiScalingFunction = BOOL(WINAPI*)(HWND);
  win::UniqueModule user32(LoadLibraryA("User32.dll"));
  if (!user32) return;
  const FARPROC address =
      GetProcAddress(user32.Get(), "EnableNonClientDpiScaling");
  if (address == nullptr) return;
  // Through void(*)(), the one cast GCC accepts between function types.
  const auto enable = reinterpret_cast<EnableNonClientDpiScalingFunction>(
      reinterpret_cast<void (*)()>(address));
  enable(window);
}

void FillWithChild(HWND child, const RECT& area) {
  MoveWindow(child, area.left, area.top, area.right - area.left,
             area.bottom - area.top, TRUE);
}

}  // namespace

int32_t Win32Window::liveWindowCount = 0;

Win32Window::Win32Window() { ++liveWindowCount; }

Win32Window::~Win32Window() {
  --liveWindowCount;
  Destroy();
}

bool Win32Window::Create(const std::wstring& title, WindowPoint origin,
                         WindowSize size) {
  Destroy();
  RegisterWindowClassOnce(StaticWindowProc);

  const HMONITOR monitor =
      MonitorFromPoint({origin.x, origin.y}, MONITOR_DEFAULTTONEAREST);
  const ScaledPlacement placed =
      ScaleToDpi(origin, size, FlutterDesktopGetDpiForMonitor(monitor));

  // WM_NCCREATE hands the new window to this object (AdoptNativeWindow).
  const HWND window = CreateWindowExW(
      0, kWindowClassName, title.c_str(), WS_OVERLAPPEDWINDOW, placed.origin.x,
      placed.origin.y, placed.size.width, placed.size.height, nullptr, nullptr,
      GetModuleHandleW(nullptr), this);
  if (window == nullptr) return false;

  ApplyTitleBarTheme(window);
  return OnCreate();
}

void Win32Window::Show() { ShowWindow(windowHandle.Get(), SW_SHOWNORMAL); }

void Win32Window::Destroy() {
  OnDestroy();
  // DestroyWindow sends WM_DESTROY, which comes back here with the handle
  // already released, so the window is destroyed once.
  windowHandle.Reset();
  if (liveWindowCount == 0) {
    WindowClassState& state = ClassState();
    UnregisterClassW(kWindowClassName, nullptr);
    state.classRegistered = false;
  }
}

void Win32Window::AttachChildWindow(HWND content) {
  childWindow = content;
  SetParent(content, windowHandle.Get());
  FillWithChild(content, ClientArea());
  SetFocus(childWindow);
}

RECT Win32Window::ClientArea() const {
  RECT area = {};
  GetClientRect(windowHandle.Get(), &area);
  return area;
}

void Win32Window::SetQuitWhenClosed(bool quitWhenClosed) {
  this->quitWhenClosed = quitWhenClosed;
}

LRESULT Win32Window::HandleMessage(HWND window, UINT message, WPARAM wparam,
                                   LPARAM lparam) {
  switch (message) {
    case WM_DESTROY:
      // Windows is destroying the window already: give up ownership.
      windowHandle.Release();
      Destroy();
      if (quitWhenClosed) PostQuitMessage(0);
      return 0;
    case WM_SIZE:
      if (childWindow != nullptr) FillWithChild(childWindow, ClientArea());
      return 0;
    case WM_ACTIVATE:
      if (childWindow != nullptr) SetFocus(childWindow);
      return 0;
    case WM_DPICHANGED: {
      const auto* suggested = reinterpret_cast<const RECT*>(lparam);
      if (suggested == nullptr) return 0;  // Not from the system.
      SetWindowPos(window, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left,
                   suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_DWMCOLORIZATIONCOLORCHANGED:
      ApplyTitleBarTheme(window);
      return 0;
  }
  // Addressed to the stored handle, which is none after WM_DESTROY.
  return DefWindowProcW(windowHandle.Get(), message, wparam, lparam);
}

bool Win32Window::OnCreate() { return true; }

void Win32Window::OnDestroy() {}

LRESULT CALLBACK Win32Window::StaticWindowProc(HWND window, UINT message,
                                               WPARAM wparam,
                                               LPARAM lparam) noexcept {
  LRESULT result = 0;
  bool answered = false;
  flutter::RunGuarded("the window procedure", [&] {
    result = RouteMessage(window, message, wparam, lparam);
    answered = true;
  });
  return answered ? result : DefWindowProcW(window, message, wparam, lparam);
}

LRESULT Win32Window::RouteMessage(HWND window, UINT message, WPARAM wparam,
                                  LPARAM lparam) {
  if (message == WM_NCCREATE) {
    AdoptNativeWindow(window, lparam);
    return DefWindowProcW(window, message, wparam, lparam);
  }
  auto* const self =
      reinterpret_cast<Win32Window*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  // The few messages before WM_NCCREATE find no object yet.
  if (self == nullptr) return DefWindowProcW(window, message, wparam, lparam);
  return self->HandleMessage(window, message, wparam, lparam);
}

void Win32Window::AdoptNativeWindow(HWND window, LPARAM creation) {
  auto* const self = static_cast<Win32Window*>(
      reinterpret_cast<const CREATESTRUCTW*>(creation)->lpCreateParams);
  if (self == nullptr) return;  // Only Create makes windows of this class.
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  EnableNonClientScalingIfOffered(window);
  self->windowHandle.Reset(window);
}

void Win32Window::ApplyTitleBarTheme(HWND window) {
  DWORD lightTheme = 0;
  DWORD size = sizeof(lightTheme);
  const LSTATUS status =
      RegGetValueW(HKEY_CURRENT_USER, kThemeKey, kLightThemeValue,
                   RRF_RT_REG_DWORD, nullptr, &lightTheme, &size);
  if (status != ERROR_SUCCESS) return;
  const BOOL dark = lightTheme == 0 ? TRUE : FALSE;
  DwmSetWindowAttribute(window, kDarkModeAttribute, &dark, sizeof(dark));
}

}  // namespace shell
