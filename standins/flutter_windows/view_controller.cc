#include "standins/flutter_windows/view_controller.h"

#include "standins/flutter_windows/records.h"

using standin::LineKind;
using standin::ObjectKind;

std::unique_ptr<FlutterDesktopViewController>
FlutterDesktopViewController::Create(
    int width, int height, std::unique_ptr<FlutterDesktopEngine> engine) {
  if (!engine) return nullptr;
  engine->SetOwnedByController();
  std::unique_ptr<FlutterDesktopViewController> controller(
      new FlutterDesktopViewController(std::move(engine)));
  // The view's window is a child from the start, so that the host can adopt
  // it with SetParent; until then it lives in a hidden window of ours.
  controller->parking.Reset(
      standin::CreateClassWindow(nullptr, WS_POPUP, nullptr, width, height));
  if (!controller->parking.Valid()) return nullptr;
  controller->view = FlutterDesktopView::Create(
      controller->parking.Get(), width, height, controller.get());
  if (!controller->view) return nullptr;
  FlutterDesktopView* view = controller->view.get();
  controller->engine->Log().SetObserver([view] { view->ScheduleFrame(); });
  if (!controller->engine->Run(controller.get())) return nullptr;
  standin::ObjectBorn(ObjectKind::kViewController, controller.get());
  return controller;
}

FlutterDesktopViewController::FlutterDesktopViewController(
    std::unique_ptr<FlutterDesktopEngine> engine)
    : engine(std::move(engine)) {}

FlutterDesktopViewController::~FlutterDesktopViewController() {
  standin::ObjectEnding(ObjectKind::kViewController, this);
  if (view) standin::ObjectEnding(ObjectKind::kView, view.get());
  standin::ObjectEnding(ObjectKind::kEngine, engine.get());
  engine->Log().SetObserver(nullptr);
  view.reset();
  engine.reset();
  standin::ObjectEnded(this);
}

bool FlutterDesktopViewController::HandleTopLevelWindowProc(UINT message,
                                                            WPARAM wparam,
                                                            LRESULT* result) {
  if (engine->TakeClaim(message, result)) return true;
  if (message == WM_ACTIVATE && LOWORD(wparam) != WA_INACTIVE) {
    view->CheckFocusAfterActivation();
  }
  return false;
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

std::string FlutterDesktopViewController::Title() const {
  const uint16_t port = engine->DriverPort();
  return "Stand-in Flutter engine - " +
         (port != 0 ? "driver on 127.0.0.1:" + std::to_string(port)
                    : std::string("no driver"));
}

std::vector<standin::TranscriptLine> FlutterDesktopViewController::Lines()
    const {
  return engine->Log().Lines();
}

void FlutterDesktopViewController::OnFrameDrawn() { engine->OnFrameDrawn(); }
