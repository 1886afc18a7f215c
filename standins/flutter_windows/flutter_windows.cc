// The 23 exported functions: argument checks and the hand-over to the
// stand-in's objects. No exception leaves the library.
#include "messaging/flutter_windows.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <memory>
#include <string>

#include "standins/flutter_windows/engine.h"
#include "standins/flutter_windows/messenger.h"
#include "standins/flutter_windows/records.h"
#include "standins/flutter_windows/view.h"
#include "standins/flutter_windows/view_controller.h"
#include "win/handles.h"

namespace {

using standin::ObjectKind;

constexpr UINT kDefaultDpi = 96;

// A handle is checked before anything behind it is read: the host may hold
// one whose object is being destroyed, or is gone.
bool UsableEngine(FlutterDesktopEngineRef engine, const char* function) {
  return standin::Usable(ObjectKind::kEngine, engine, function);
}
bool UsableController(FlutterDesktopViewControllerRef controller,
                      const char* function) {
  return standin::Usable(ObjectKind::kViewController, controller, function);
}

template <typename Result, typename Body>
Result Guarded(Result fallback, Body body) noexcept {
  try {
    return body();
  } catch (...) {
    return fallback;
  }
}

template <typename Body>
void Guarded(Body body) noexcept {
  try {
    body();
  } catch (...) {
  }
}

// Holds the messenger's lock for one call; the engine behind it is null once
// it has stopped.
class LockedMessenger {
 public:
  explicit LockedMessenger(FlutterDesktopMessengerRef messenger)
      : messenger(messenger) {
    if (messenger) messenger->Lock();
  }
  ~LockedMessenger() {
    if (messenger) messenger->Unlock();
  }
  LockedMessenger(const LockedMessenger&) = delete;
  LockedMessenger& operator=(const LockedMessenger&) = delete;

  FlutterDesktopEngine* Engine() const {
    return messenger ? messenger->Engine() : nullptr;
  }

 private:
  FlutterDesktopMessengerRef messenger;
};

// With a runtime library of its own (a static CRT) this module's standard
// streams are not the host's: when they lead nowhere while the process has
// a console, point them at it. With a shared runtime they already follow.
void FollowConsole(FILE* stream, DWORD standardHandle) {
  const HANDLE wanted = GetStdHandle(standardHandle);
  if (wanted == nullptr || wanted == INVALID_HANDLE_VALUE) return;
  const int descriptor = _fileno(stream);
  if (descriptor >= 0 && _get_osfhandle(descriptor) != -1 &&
      _get_osfhandle(descriptor) != -2) {
    return;
  }
  FILE* reopened = nullptr;
  if (GetFileType(wanted) == FILE_TYPE_CHAR) {
    reopened = std::freopen("CONOUT$", "w", stream);
  }
  (void)reopened;
}

}  // namespace

FlutterDesktopEngineRef FlutterDesktopEngineCreate(
    const FlutterDesktopEngineProperties* properties) {
  return Guarded<FlutterDesktopEngineRef>(nullptr, [&] {
    if (properties == nullptr) return FlutterDesktopEngineRef{nullptr};
    return FlutterDesktopEngine::Create(*properties).release();
  });
}

FlutterDesktopMessengerRef FlutterDesktopEngineGetMessenger(
    FlutterDesktopEngineRef engine) {
  return UsableEngine(engine, __func__) ? engine->Messenger() : nullptr;
}

bool FlutterDesktopEngineDestroy(FlutterDesktopEngineRef engine) {
  const char* const function = __func__;
  return Guarded(false, [&] {
    if (!UsableEngine(engine, function)) return false;
    if (engine->OwnedByController()) {
      standin::RecordFault(std::string(function) +
                           " on an engine a view controller owns");
      return false;
    }
    delete engine;
    return true;
  });
}

void FlutterDesktopEngineSetNextFrameCallback(
    FlutterDesktopEngineRef engine, FlutterDesktopOnNextFrameCallback callback,
    void* user_data) {
  if (UsableEngine(engine, __func__)) {
    engine->SetNextFrameCallback(callback, user_data);
  }
}

void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngineRef engine) {
  const char* const function = __func__;
  Guarded([&] {
    if (UsableEngine(engine, function)) engine->ReloadSystemFonts();
  });
}

FlutterDesktopPluginRegistrarRef FlutterDesktopEngineGetPluginRegistrar(
    FlutterDesktopEngineRef engine, const char* plugin_name) {
  return UsableEngine(engine, __func__) && plugin_name
             ? engine->PluginRegistrar()
             : nullptr;
}

FlutterDesktopViewControllerRef FlutterDesktopViewControllerCreate(
    int32_t width, int32_t height, FlutterDesktopEngineRef engine) {
  // An engine this library cannot vouch for is left alone, not taken over.
  if (!UsableEngine(engine, __func__)) return nullptr;
  std::unique_ptr<FlutterDesktopEngine> owned(engine);
  return Guarded<FlutterDesktopViewControllerRef>(nullptr, [&] {
    return FlutterDesktopViewController::Create(width, height, std::move(owned))
        .release();
  });
}

FlutterDesktopViewRef FlutterDesktopViewControllerGetView(
    FlutterDesktopViewControllerRef controller) {
  return UsableController(controller, __func__) ? controller->View() : nullptr;
}

void FlutterDesktopViewControllerDestroy(
    FlutterDesktopViewControllerRef controller) {
  const char* const function = __func__;
  Guarded([&] {
    if (UsableController(controller, function)) delete controller;
  });
}

void FlutterDesktopViewControllerForceRedraw(
    FlutterDesktopViewControllerRef controller) {
  if (UsableController(controller, __func__)) controller->ForceRedraw();
}

bool FlutterDesktopViewControllerHandleTopLevelWindowProc(
    FlutterDesktopViewControllerRef controller, HWND, UINT message,
    WPARAM wparam, LPARAM, LRESULT* result) {
  const char* const function = __func__;
  return Guarded(false, [&] {
    return UsableController(controller, function) && result != nullptr &&
           controller->HandleTopLevelWindowProc(message, wparam, result);
  });
}

HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef view) {
  return standin::Usable(ObjectKind::kView, view, __func__) ? view->Window()
                                                            : nullptr;
}

UINT FlutterDesktopGetDpiForMonitor(HMONITOR monitor) {
  // Looked up at run time: shcore.dll is missing before Windows 8.1.
  using GetDpiForMonitorFunction =
      HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
  constexpr int kEffectiveDpi = 0;
  win::UniqueModule shcore(LoadLibraryW(L"shcore.dll"));
  if (!shcore.Valid()) return kDefaultDpi;
  const auto getDpi =
      reinterpret_cast<GetDpiForMonitorFunction>(reinterpret_cast<void*>(
          GetProcAddress(shcore.Get(), "GetDpiForMonitor")));
  UINT dpiX = 0;
  UINT dpiY = 0;
  if (getDpi == nullptr ||
      getDpi(monitor, kEffectiveDpi, &dpiX, &dpiY) != S_OK || dpiX == 0) {
    return kDefaultDpi;
  }
  return dpiX;
}

void FlutterDesktopResyncOutputStreams(void) {
  FollowConsole(stdout, STD_OUTPUT_HANDLE);
  FollowConsole(stderr, STD_ERROR_HANDLE);
}

bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger,
                                 const char* channel, const uint8_t* message,
                                 size_t message_size) {
  return FlutterDesktopMessengerSendWithReply(messenger, channel, message,
                                              message_size, nullptr, nullptr);
}

bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef messenger,
                                          const char* channel,
                                          const uint8_t* message,
                                          size_t message_size,
                                          FlutterDesktopBinaryReply reply,
                                          void* user_data) {
  return Guarded(false, [&] {
    LockedMessenger locked(messenger);
    if (locked.Engine() == nullptr || channel == nullptr ||
        (message == nullptr && message_size != 0)) {
      return false;
    }
    locked.Engine()->SendToDriver(channel, message, message_size, reply,
                                  user_data);
    return true;
  });
}

void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger,
                                        const char* channel,
                                        FlutterDesktopMessageCallback callback,
                                        void* user_data) {
  Guarded([&] {
    LockedMessenger locked(messenger);
    if (locked.Engine() && channel) {
      locked.Engine()->SetChannelCallback(channel, callback, user_data);
    }
  });
}

void FlutterDesktopMessengerSendResponse(
    FlutterDesktopMessengerRef messenger,
    const FlutterDesktopMessageResponseHandle* handle, const uint8_t* data,
    size_t data_length) {
  Guarded([&] {
    LockedMessenger locked(messenger);
    if (locked.Engine() == nullptr || handle == nullptr) return;
    // A missing buffer with a length is answered as an empty reply.
    if (data == nullptr) data_length = 0;
    locked.Engine()->Respond(handle, data, data_length);
  });
}

FlutterDesktopMessengerRef FlutterDesktopMessengerAddRef(
    FlutterDesktopMessengerRef messenger) {
  if (messenger) messenger->AddRef();
  return messenger;
}

void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger) {
  if (messenger) messenger->Release();
}

FlutterDesktopMessengerRef FlutterDesktopMessengerLock(
    FlutterDesktopMessengerRef messenger) {
  if (messenger) messenger->Lock();
  return messenger;
}

void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef messenger) {
  if (messenger) messenger->Unlock();
}

bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger) {
  LockedMessenger locked(messenger);
  return locked.Engine() != nullptr;
}
