#include "standins/flutter_windows/view_controller.h"

using standin::LineKind;

std::unique_ptr<FlutterDesktopViewController>
FlutterDesktopViewController::Create(
    int width, int height, std::unique_ptr<FlutterDesktopEngine> engine) {
  if (!engine) return nullptr;
  std::unique_ptr<FlutterDesktopViewController> controller(
      new FlutterDesktopViewController(std::move(engine)));
  // The view's window is a child from the start, so that the host can adopt
  // it with SetParent; until then it lives in a hidden window of ours.
  controller->parking.Reset(
      standin::CreateClassWindow(nullptr, WS_POPUP, nullptr, width, height));
  if (!controller->parking.Valid()) return nullptr;
  controller->view = FlutterDesktopView::Create(
      controller->parking.Get(), width, height, controller->engine.get());
  if (!controller->view) return nullptr;
  FlutterDesktopView* view = controller->view.get();
  controller->engine->Log().SetObserver([view] { view->ScheduleFrame(); });
  if (!controller->engine->Run(controller.get())) return nullptr;
  view->ScheduleFrame();
  return controller;
}

FlutterDesktopViewController::FlutterDesktopViewController(
    std::unique_ptr<FlutterDesktopEngine> engine)
    : engine(std::move(engine)) {}

FlutterDesktopViewController::~FlutterDesktopViewController() {
  engine->Log().SetObserver(nullptr);
  view.reset();
  engine.reset();
}

void FlutterDesktopViewController::CloseWindow() {
  HWND root = GetAncestor(view->Window(), GA_ROOT);
  if (root == nullptr || root == parking.Get()) {
    engine->Log().Add(LineKind::kProblem,
                      "the view is in no window of the host's to close");
    return;
  }
  PostMessageW(root, WM_CLOSE, 0, 0);
}
