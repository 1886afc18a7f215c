// Creates an engine and the embedder's view controller, which takes the
// engine over and starts it.
#ifndef MESSAGING_FLUTTER_VIEW_CONTROLLER_H_
#define MESSAGING_FLUTTER_VIEW_CONTROLLER_H_

#include <cstdint>
#include <memory>
#include <optional>

#include "messaging/engine_project.h"
#include "messaging/flutter_engine.h"
#include "messaging/flutter_view.h"
#include "messaging/flutter_windows.h"

namespace flutter {

// Platform thread only. When the embedder makes no engine or no view
// controller, a line goes to standard error, View() is null and Engine() is
// still present.
class FlutterViewController {
 public:
  // width and height: the view's size in physical pixels.
  FlutterViewController(int32_t width, int32_t height,
                        const EngineProject& project);
  // Ends the embedder's view controller (and with it the engine) before the
  // view and engine wrappers.
  virtual ~FlutterViewController();

  FlutterViewController(const FlutterViewController&) = delete;
  FlutterViewController& operator=(const FlutterViewController&) = delete;

  FlutterEngine* Engine() const { return engine.get(); }
  FlutterView* View() const { return view.get(); }

  // Does nothing when the embedder made no view controller.
  void ForceRedraw();

  // The embedder's answer when it handled the top-level window's message,
  // otherwise (also when there is no view controller) no value.
  std::optional<LRESULT> HandleTopLevelWindowProc(HWND window, UINT message,
                                                  WPARAM wparam, LPARAM lparam);

 private:
  FlutterDesktopViewControllerRef controllerHandle = nullptr;
  std::shared_ptr<FlutterEngine> engine;
  std::unique_ptr<FlutterView> view;
};

}  // namespace flutter

#endif  // MESSAGING_FLUTTER_VIEW_CONTROLLER_H_
