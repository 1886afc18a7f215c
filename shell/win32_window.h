// The host's DPI-aware top-level window: one window class per process, a
// native window scaled to its monitor, a title bar that follows the user's
// light or dark theme, and one child window that always fills it.
#ifndef SHELL_WIN32_WINDOW_H_
#define SHELL_WIN32_WINDOW_H_

#include <windows.h>

#include <cstdint>
#include <string>

#include "shell/window_scaling.h"
#include "win/handles.h"

namespace shell {

// Main thread only: the window, the live-window count and the class state
// are touched without locks.
class Win32Window {
 public:
  Win32Window();
  // Destroys the native window; the last window object alive also
  // unregisters the class. The hooks resolve to this class from here on.
  virtual ~Win32Window();

  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  // Creates the native window hidden, at origin and size scaled to the DPI
  // of the monitor at origin. False, with nothing reported, when the native
  // window cannot be created or OnCreate refuses it; in the second case the
  // native window stays until Destroy.
  bool Create(const std::wstring& title, WindowPoint origin, WindowSize size);

  // Shows the window in its normal state.
  void Show();

  // Releases the native window, and the window class when no window object
  // is left. Safe to call when there is no native window.
  void Destroy();

  // Makes content the child that fills the client area and has the focus.
  void AttachChildWindow(HWND content);

  // The client rectangle; all zero when there is no native window.
  RECT ClientArea() const;

  // When set, the destruction of the native window ends the message loop.
  void SetQuitWhenClosed(bool quitWhenClosed);

 protected:
  // Each handled message answers 0; others get the default processing.
  virtual LRESULT HandleMessage(HWND window, UINT message, WPARAM wparam,
                                LPARAM lparam);
  // Called once the native window exists; false refuses the window.
  virtual bool OnCreate();
  // Called whenever the window is being destroyed, also when there is
  // nothing to destroy.
  virtual void OnDestroy();

 private:
  // The class's window procedure. An exception out of a handler is reported
  // on standard error and the message gets its default processing instead:
  // nothing may unwind through the system's frames.
  static LRESULT CALLBACK StaticWindowProc(HWND window, UINT message,
                                           WPARAM wparam,
                                           LPARAM lparam) noexcept;
  static LRESULT RouteMessage(HWND window, UINT message, WPARAM wparam,
                              LPARAM lparam);
  static void AdoptNativeWindow(HWND window, LPARAM creation);

  // Dark or light title bar from "AppsUseLightTheme"; left alone when the
  // value cannot be read as a DWORD.
  static void ApplyTitleBarTheme(HWND window);

  static int32_t liveWindowCount;

  bool quitWhenClosed = false;
  // Owned; released without destroying when WM_DESTROY reports the window
  // already on its way out.
  win::UniqueWindow windowHandle;
  // The embedder's view window: owned by the embedder, only placed here.
  HWND childWindow = nullptr;
};

}  // namespace shell

#endif  // SHELL_WIN32_WINDOW_H_
