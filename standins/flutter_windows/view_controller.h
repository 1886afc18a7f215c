// The view controller: owns the engine it was given, the view and the hidden
// window the view's child window starts in until the host adopts it. It
// joins the two: the engine and the view know only what they need of each
// other, through the controller.
#ifndef STANDINS_FLUTTER_WINDOWS_VIEW_CONTROLLER_H_
#define STANDINS_FLUTTER_WINDOWS_VIEW_CONTROLLER_H_

#include <memory>
#include <string>
#include <vector>

#include "messaging/flutter_windows.h"
#include "standins/flutter_windows/engine.h"
#include "standins/flutter_windows/view.h"
#include "standins/flutter_windows/window_class.h"
#include "win/handles.h"

struct FlutterDesktopViewController final : private standin::EngineHost,
                                            private standin::ViewContent {
 public:
  // Takes the engine over whatever the outcome and runs it; null when there
  // is no engine or the view's window cannot be made.
  static std::unique_ptr<FlutterDesktopViewController> Create(
      int width, int height, std::unique_ptr<FlutterDesktopEngine> engine);
  // Ends the view first, then the engine. From its first step on, the
  // controller, its view and its engine count as being destroyed.
  ~FlutterDesktopViewController();
  FlutterDesktopViewController(const FlutterDesktopViewController&) = delete;
  FlutterDesktopViewController& operator=(const FlutterDesktopViewController&) =
      delete;

  FlutterDesktopEngine* Engine() const { return engine.get(); }
  FlutterDesktopView* View() const { return view.get(); }
  void ForceRedraw() { view->ForceRedraw(); }

  // The engine's first look at a message of the host's top-level window:
  // true, with *result, for a message the driver asked the engine to claim.
  bool HandleTopLevelWindowProc(UINT message, WPARAM wparam, LRESULT* result);

 private:
  explicit FlutterDesktopViewController(
      std::unique_ptr<FlutterDesktopEngine> engine);

  void CloseWindow() override;
  std::string Title() const override;
  std::vector<standin::TranscriptLine> Lines() const override;
  void OnFrameDrawn() override;

  standin::WindowClassLease classLease;
  win::UniqueWindow parking;
  std::unique_ptr<FlutterDesktopEngine> engine;
  std::unique_ptr<FlutterDesktopView> view;
};

#endif  // STANDINS_FLUTTER_WINDOWS_VIEW_CONTROLLER_H_
