// The view's child window. A frame is the transcript drawn into a bitmap,
// made whether or not the window is visible (the host shows its window only
// after the first frame); painting shows the latest frame.
#ifndef STANDINS_FLUTTER_WINDOWS_VIEW_H_
#define STANDINS_FLUTTER_WINDOWS_VIEW_H_

#include <atomic>
#include <memory>

#include "messaging/flutter_windows.h"
#include "standins/flutter_windows/engine.h"
#include "standins/flutter_windows/window_class.h"
#include "win/handles.h"

struct FlutterDesktopView final : private standin::WindowTarget {
 public:
  // A visible child of parent at width x height; null when the system
  // refuses the window.
  static std::unique_ptr<FlutterDesktopView> Create(
      HWND parent, int width, int height, FlutterDesktopEngine* engine);
  // Destroys the window unless its parent already took it down.
  ~FlutterDesktopView();
  FlutterDesktopView(const FlutterDesktopView&) = delete;
  FlutterDesktopView& operator=(const FlutterDesktopView&) = delete;

  HWND Window() const { return window; }

  // Any thread: a frame follows soon, on the platform thread. Requests made
  // before it is drawn are merged into it.
  void ScheduleFrame();

 private:
  explicit FlutterDesktopView(FlutterDesktopEngine* engine);

  LRESULT HandleWindowMessage(HWND window, UINT message, WPARAM wparam,
                              LPARAM lparam) override;
  void DrawFrame();
  void Paint();
  win::UniqueGdiObject RenderBitmap(int width, int height) const;
  void Render(HDC dc, int width, int height) const;

  FlutterDesktopEngine* engine;
  standin::WindowClassLease classLease;
  // Cleared when the window goes; read by ScheduleFrame on other threads.
  std::atomic<HWND> window{nullptr};
  std::atomic<bool> framePending{false};
  win::UniqueGdiObject frame;
  SIZE frameSize = {0, 0};
};

#endif  // STANDINS_FLUTTER_WINDOWS_VIEW_H_
