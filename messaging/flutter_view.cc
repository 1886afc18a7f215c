#include "messaging/flutter_view.h"

namespace flutter {

FlutterView::FlutterView(FlutterDesktopViewRef viewHandle)
    : viewHandle(viewHandle) {}

// The view belongs to the embedder's view controller, which ends it.
FlutterView::~FlutterView() = default;

HWND FlutterView::NativeWindow() const {
  return FlutterDesktopViewGetHWND(viewHandle);
}

}  // namespace flutter
