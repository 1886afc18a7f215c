// The view's child window. A frame is the content drawn into a bitmap, made
// whether or not the window is visible (the host shows its window only
// after the first frame); painting shows the latest frame. Like a real
// engine, the view draws its first frame only when a redraw is asked for.
#ifndef STANDINS_FLUTTER_WINDOWS_VIEW_H_
#define STANDINS_FLUTTER_WINDOWS_VIEW_H_

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "messaging/flutter_windows.h"
#include "standins/flutter_windows/transcript.h"
#include "standins/flutter_windows/window_class.h"
#include "win/handles.h"

namespace standin {

// What the view shows, and whom it tells about its frames.
class ViewContent {
 public:
  // Any thread.
  virtual std::string Title() const = 0;
  virtual std::vector<TranscriptLine> Lines() const = 0;
  // Platform thread, after each frame.
  virtual void OnFrameDrawn() = 0;

 protected:
  ~ViewContent() = default;
};

}  // namespace standin

struct FlutterDesktopView final : private standin::WindowTarget {
 public:
  // A visible child of parent at width x height; null when the system
  // refuses the window. The parent is where the view waits until the host
  // adopts it; from then on its size is checked against its new parent's
  // client area.
  static std::unique_ptr<FlutterDesktopView> Create(
      HWND parent, int width, int height, standin::ViewContent* content);
  // Destroys the window unless its parent already took it down.
  ~FlutterDesktopView();
  FlutterDesktopView(const FlutterDesktopView&) = delete;
  FlutterDesktopView& operator=(const FlutterDesktopView&) = delete;

  HWND Window() const { return window; }

  // Any thread: a frame follows soon, on the platform thread, once a redraw
  // has ever been asked for; until then nothing is drawn. Requests made
  // before a frame is drawn are merged into it.
  void ScheduleFrame();
  // A frame follows, and frames may be drawn from now on.
  void ForceRedraw();
  // The top-level window was activated: once its own handling is done, the
  // focus must be on the view.
  void CheckFocusAfterActivation();

 private:
  FlutterDesktopView(HWND waitingRoom, SIZE created,
                     standin::ViewContent* content);

  LRESULT HandleWindowMessage(HWND window, UINT message, WPARAM wparam,
                              LPARAM lparam) override;
  void DrawFrame();
  void RecordVisibility();
  // In the host's window: the size given at creation, then each new size,
  // against the parent's client area.
  void CheckSize(std::optional<SIZE> resized);
  void CheckFocus();
  void Paint();
  win::UniqueGdiObject RenderBitmap(int width, int height) const;
  void Render(HDC dc, int width, int height) const;

  standin::ViewContent* content;
  const HWND waitingRoom;
  const SIZE created;
  standin::WindowClassLease classLease;
  // Cleared when the window goes; read by ScheduleFrame on other threads.
  std::atomic<HWND> window{nullptr};
  std::atomic<bool> redrawAsked{false};
  std::atomic<bool> framePending{false};
  win::UniqueGdiObject frame;
  SIZE frameSize = {0, 0};
  // Platform thread only.
  bool adopted = false;
  std::optional<bool> lastFrameVisible;
};

#endif  // STANDINS_FLUTTER_WINDOWS_VIEW_H_
