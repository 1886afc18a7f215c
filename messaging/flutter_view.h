// The view the embedder draws the user interface into.
#ifndef MESSAGING_FLUTTER_VIEW_H_
#define MESSAGING_FLUTTER_VIEW_H_

#include "messaging/flutter_windows.h"

namespace flutter {

class FlutterView {
 public:
  explicit FlutterView(FlutterDesktopViewRef viewHandle);
  virtual ~FlutterView();

  FlutterView(const FlutterView&) = delete;
  FlutterView& operator=(const FlutterView&) = delete;

  // The view's child window, owned by the embedder.
  HWND NativeWindow() const;

 private:
  FlutterDesktopViewRef viewHandle;
};

}  // namespace flutter

#endif  // MESSAGING_FLUTTER_VIEW_H_
