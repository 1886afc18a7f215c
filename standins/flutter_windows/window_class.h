// The stand-in's one window class: its windows hand their messages to a C++
// object found through the window's user data.
#ifndef STANDINS_FLUTTER_WINDOWS_WINDOW_CLASS_H_
#define STANDINS_FLUTTER_WINDOWS_WINDOW_CLASS_H_

#include <windows.h>

namespace standin {

class WindowTarget {
 public:
  // Called on the window's thread; WM_NCDESTROY is the last message.
  virtual LRESULT HandleWindowMessage(HWND window, UINT message, WPARAM wparam,
                                      LPARAM lparam) = 0;

 protected:
  ~WindowTarget() = default;
};

// Keeps the window class registered while any lease exists.
class WindowClassLease {
 public:
  WindowClassLease();
  ~WindowClassLease();
  WindowClassLease(const WindowClassLease&) = delete;
  WindowClassLease& operator=(const WindowClassLease&) = delete;
};

// A window of the class whose messages go to target (none: default
// handling); null when the system refuses to create it. The caller must hold
// a lease.
HWND CreateClassWindow(WindowTarget* target, DWORD style, HWND parent,
                       int width, int height);

// This library's module, for window classes and resources.
HINSTANCE LibraryInstance();

}  // namespace standin

#endif  // STANDINS_FLUTTER_WINDOWS_WINDOW_CLASS_H_
