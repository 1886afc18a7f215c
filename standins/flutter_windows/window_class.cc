#include "standins/flutter_windows/window_class.h"

#include <mutex>

namespace standin {
namespace {

constexpr wchar_t kClassName[] = L"ZorvaneStandinFlutterWindow";

std::mutex leaseMutex;
int leaseCount = 0;

LRESULT CALLBACK ClassWindowProc(HWND window, UINT message, WPARAM wparam,
                                 LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(window, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
  }
  auto* target =
      reinterpret_cast<WindowTarget*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
  }
  if (target == nullptr) {
    return DefWindowProcW(window, message, wparam, lparam);
  }
  try {
    return target->HandleWindowMessage(window, message, wparam, lparam);
  } catch (...) {
    // Nothing may unwind into the system's dispatching.
    return DefWindowProcW(window, message, wparam, lparam);
  }
}

}  // namespace

HINSTANCE LibraryInstance() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ClassWindowProc), &module);
  return module;
}

WindowClassLease::WindowClassLease() {
  std::lock_guard<std::mutex> lock(leaseMutex);
  if (leaseCount++ > 0) return;
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = ClassWindowProc;
  windowClass.hInstance = LibraryInstance();
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = kClassName;
  RegisterClassW(&windowClass);
}

WindowClassLease::~WindowClassLease() {
  std::lock_guard<std::mutex> lock(leaseMutex);
  if (--leaseCount == 0) UnregisterClassW(kClassName, LibraryInstance());
}

HWND CreateClassWindow(WindowTarget* target, DWORD style, HWND parent,
                       int width, int height) {
  return CreateWindowExW(0, kClassName, L"", style, 0, 0, width, height, parent,
                         nullptr, LibraryInstance(), target);
}

}  // namespace standin
