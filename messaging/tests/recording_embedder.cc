#include "messaging/tests/recording_embedder.h"

namespace recording_embedder {
namespace {

template <typename Handle>
Handle FakeHandle(uintptr_t value) {
  return reinterpret_cast<Handle>(value);
}

State state;

// Records the call; a handle other than the one the double gave out counts
// as a fault.
template <typename Handle>
void Record(const std::string& call, Handle handle, Handle expected) {
  state.calls.push_back(call);
  if (handle != expected) ++state.foreignHandleCalls;
}

}  // namespace

const FlutterDesktopMessengerRef kMessenger =
    FakeHandle<FlutterDesktopMessengerRef>(0x2000);
const HWND kViewWindow = FakeHandle<HWND>(0x5000);
const auto kEngine = FakeHandle<FlutterDesktopEngineRef>(0x1000);
const auto kController = FakeHandle<FlutterDesktopViewControllerRef>(0x3000);
const auto kView = FakeHandle<FlutterDesktopViewRef>(0x4000);

State& Embedder() { return state; }

void ResetEmbedder() { state = State(); }

uintptr_t DeliverMessage(const std::string& channel, const Bytes& message) {
  static uintptr_t lastHandle = 0;
  const uintptr_t handle = ++lastHandle;
  FlutterDesktopMessage record{};
  record.struct_size = sizeof(record);
  record.channel = channel.c_str();
  record.message = message.data();
  record.message_size = message.size();
  record.response_handle =
      FakeHandle<const FlutterDesktopMessageResponseHandle*>(handle);
  const auto registration = state.registrations.at(channel);
  registration.first(kMessenger, &record, registration.second);
  return handle;
}

void RunNextFrame() {
  const auto nextFrame = state.nextFrame;
  state.nextFrame = {};
  if (nextFrame.first) nextFrame.first(nextFrame.second);
}

}  // namespace recording_embedder

using namespace recording_embedder;  // NOLINT: the double's own names.

extern "C" {

FlutterDesktopEngineRef FlutterDesktopEngineCreate(
    const FlutterDesktopEngineProperties* properties) {
  state.calls.push_back("EngineCreate");
  state.paths = std::wstring(properties->assets_path) + L"|" +
                properties->icu_data_path + L"|" + properties->aot_library_path;
  if (properties->dart_entrypoint) {
    state.entrypoint = properties->dart_entrypoint;
  }
  state.argc = properties->dart_entrypoint_argc;
  if (properties->dart_entrypoint_argv) {
    state.arguments.emplace(properties->dart_entrypoint_argv,
                            properties->dart_entrypoint_argv + state.argc);
  }
  state.engineOptions = {properties->engine_option_1,
                         properties->engine_option_2};
  return kEngine;
}

FlutterDesktopMessengerRef FlutterDesktopEngineGetMessenger(
    FlutterDesktopEngineRef engine) {
  Record("EngineGetMessenger", engine, kEngine);
  return kMessenger;
}

bool FlutterDesktopEngineDestroy(FlutterDesktopEngineRef engine) {
  Record("EngineDestroy", engine, kEngine);
  return true;
}

void FlutterDesktopEngineSetNextFrameCallback(
    FlutterDesktopEngineRef engine, FlutterDesktopOnNextFrameCallback callback,
    void* user_data) {
  Record("EngineSetNextFrameCallback", engine, kEngine);
  state.nextFrame = {callback, user_data};
}

void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngineRef engine) {
  Record("EngineReloadSystemFonts", engine, kEngine);
}

FlutterDesktopPluginRegistrarRef FlutterDesktopEngineGetPluginRegistrar(
    FlutterDesktopEngineRef engine, const char* plugin_name) {
  Record(std::string("EngineGetPluginRegistrar ") + plugin_name, engine,
         kEngine);
  return nullptr;
}

FlutterDesktopViewControllerRef FlutterDesktopViewControllerCreate(
    int32_t width, int32_t height, FlutterDesktopEngineRef engine) {
  Record("ViewControllerCreate " + std::to_string(width) + "x" +
             std::to_string(height),
         engine, kEngine);
  return state.viewControllerCreationFails ? nullptr : kController;
}

FlutterDesktopViewRef FlutterDesktopViewControllerGetView(
    FlutterDesktopViewControllerRef controller) {
  Record("ViewControllerGetView", controller, kController);
  return kView;
}

void FlutterDesktopViewControllerDestroy(
    FlutterDesktopViewControllerRef controller) {
  Record("ViewControllerDestroy", controller, kController);
}

void FlutterDesktopViewControllerForceRedraw(
    FlutterDesktopViewControllerRef controller) {
  Record("ViewControllerForceRedraw", controller, kController);
}

bool FlutterDesktopViewControllerHandleTopLevelWindowProc(
    FlutterDesktopViewControllerRef controller, HWND, UINT, WPARAM, LPARAM,
    LRESULT* result) {
  Record("ViewControllerHandleTopLevelWindowProc", controller, kController);
  if (state.topLevelResult) *result = *state.topLevelResult;
  return state.topLevelResult.has_value();
}

HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef view) {
  Record("ViewGetHWND", view, kView);
  return kViewWindow;
}

bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger,
                                 const char* channel, const uint8_t*, size_t) {
  Record(std::string("MessengerSend ") + channel, messenger, kMessenger);
  return true;
}

bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef messenger,
                                          const char* channel, const uint8_t*,
                                          size_t,
                                          FlutterDesktopBinaryReply reply,
                                          void* user_data) {
  Record(std::string("MessengerSendWithReply ") + channel, messenger,
         kMessenger);
  if (state.sendWithReplyAccepted) {
    state.pendingReplies.emplace_back(reply, user_data);
  }
  return state.sendWithReplyAccepted;
}

void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger,
                                        const char* channel,
                                        FlutterDesktopMessageCallback callback,
                                        void* user_data) {
  Record(std::string("MessengerSetCallback ") + channel, messenger, kMessenger);
  if (callback == nullptr) {
    state.registrations.erase(channel);
  } else {
    state.registrations[channel] = {callback, user_data};
  }
}

void FlutterDesktopMessengerSendResponse(
    FlutterDesktopMessengerRef messenger,
    const FlutterDesktopMessageResponseHandle* handle, const uint8_t* data,
    size_t data_length) {
  Record("MessengerSendResponse", messenger, kMessenger);
  std::optional<Bytes> bytes;
  if (data != nullptr) bytes.emplace(data, data + data_length);
  state.responses.emplace_back(reinterpret_cast<uintptr_t>(handle), bytes);
}

FlutterDesktopMessengerRef FlutterDesktopMessengerAddRef(
    FlutterDesktopMessengerRef messenger) {
  Record("MessengerAddRef", messenger, kMessenger);
  ++state.messengerReferences;
  return messenger;
}

void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger) {
  Record("MessengerRelease", messenger, kMessenger);
  --state.messengerReferences;
}

FlutterDesktopMessengerRef FlutterDesktopMessengerLock(
    FlutterDesktopMessengerRef messenger) {
  Record("MessengerLock", messenger, kMessenger);
  if (state.lockReturnsNothing) return nullptr;
  ++state.locksHeld;
  return messenger;
}

void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef messenger) {
  Record("MessengerUnlock", messenger, kMessenger);
  --state.locksHeld;
}

bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger) {
  Record("MessengerIsAvailable", messenger, kMessenger);
  return state.messengerAvailable;
}

}  // extern "C"
