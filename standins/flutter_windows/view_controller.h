// The view controller: owns the engine it was given, the view and the hidden
// window the view's child window starts in until the host adopts it.
#ifndef STANDINS_FLUTTER_WINDOWS_VIEW_CONTROLLER_H_
#define STANDINS_FLUTTER_WINDOWS_VIEW_CONTROLLER_H_

#include <memory>

#include "messaging/flutter_windows.h"
#include "standins/flutter_windows/engine.h"
#include "standins/flutter_windows/view.h"
#include "standins/flutter_windows/window_class.h"
#include "win/handles.h"

struct FlutterDesktopViewController final : private standin::EngineHost {
 public:
  // Takes the engine over whatever the outcome and runs it; null when there
  // is no engine or the view's window cannot be made.
  static std::unique_ptr<FlutterDesktopViewController> Create(
      int width, int height, std::unique_ptr<FlutterDesktopEngine> engine);
  // Ends the view first, then the engine.
  ~FlutterDesktopViewController();
  FlutterDesktopViewController(const FlutterDesktopViewController&) = delete;
  FlutterDesktopViewController& operator=(const FlutterDesktopViewController&) =
      delete;

  FlutterDesktopEngine* Engine() const { return engine.get(); }
  FlutterDesktopView* View() const { return view.get(); }
  void ForceRedraw() { view->ScheduleFrame(); }

 private:
  explicit FlutterDesktopViewController(
      std::unique_ptr<FlutterDesktopEngine> engine);

  void CloseWindow() override;

  standin::WindowClassLease classLease;
  win::UniqueWindow parking;
  std::unique_ptr<FlutterDesktopEngine> engine;
  std::unique_ptr<FlutterDesktopView> view;
};

#endif  // STANDINS_FLUTTER_WINDOWS_VIEW_CONTROLLER_H_
