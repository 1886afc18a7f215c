#include "messaging/flutter_view_controller.h"

#include <iostream>

namespace flutter {

FlutterViewController::FlutterViewController(int32_t width, int32_t height,
                                             const EngineProject& project) {
  engine = std::make_shared<FlutterEngine>(project);
  // The embedder takes the engine over whether or not it makes a controller;
  // without an engine there is nothing to make one from.
  const FlutterDesktopEngineRef engineHandle = engine->ReleaseEngineHandle();
  if (engineHandle != nullptr) {
    controllerHandle =
        FlutterDesktopViewControllerCreate(width, height, engineHandle);
  }
  if (controllerHandle == nullptr) {
    std::cerr << "Failed to create view controller." << std::endl;
    return;
  }
  view = std::make_unique<FlutterView>(
      FlutterDesktopViewControllerGetView(controllerHandle));
}

FlutterViewController::~FlutterViewController() {
  if (controllerHandle != nullptr) {
    FlutterDesktopViewControllerDestroy(controllerHandle);
  }
  view.reset();
  engine.reset();
}

void FlutterViewController::ForceRedraw() {
  if (controllerHandle == nullptr) return;
  FlutterDesktopViewControllerForceRedraw(controllerHandle);
}

std::optional<LRESULT> FlutterViewController::HandleTopLevelWindowProc(
    HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (controllerHandle == nullptr) return std::nullopt;
  LRESULT result = 0;
  if (FlutterDesktopViewControllerHandleTopLevelWindowProc(
          controllerHandle, window, message, wparam, lparam, &result)) {
    return result;
  }
  return std::nullopt;
}

}  // namespace flutter
