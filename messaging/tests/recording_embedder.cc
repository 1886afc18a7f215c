#include "messaging/tests/recording_embedder.h"

#include <utility>

namespace recording_embedder {
namespace {

template <typename Handle>
Handle FakeHandle(uintptr_t value) {
  return reinterpret_cast<Handle>(value);
}

State& TheState() {
  static State state;
  return state;
}

void Record(std::string call) { TheState().calls.push_back(std::move(call)); }

template <typename Handle>
void Expect(Handle actual, Handle expected) {
  if (actual != expected) ++TheState().foreignHandleCalls;
}

std::string TextOrEmpty(const char* text) { return text ? text : ""; }
std::wstring TextOrEmpty(const wchar_t* text) { return text ? text : L""; }

}  // namespace

const FlutterDesktopEngineRef kEngine =
    FakeHandle<FlutterDesktopEngineRef>(0x1000);
const FlutterDesktopMessengerRef kMessenger =
    FakeHandle<FlutterDesktopMessengerRef>(0x2000);
const FlutterDesktopViewControllerRef kController =
    FakeHandle<FlutterDesktopViewControllerRef>(0x3000);
const FlutterDesktopViewRef kView = FakeHandle<FlutterDesktopViewRef>(0x4000);
const HWND kViewWindow = FakeHandle<HWND>(0x5000);
const FlutterDesktopPluginRegistrarRef kRegistrar =
    FakeHandle<FlutterDesktopPluginRegistrarRef>(0x6000);

State& Embedder() { return TheState(); }

void ResetEmbedder() { TheState() = State(); }

uintptr_t DeliverMessage(const std::string& channel,
                         const std::vector<uint8_t>& message) {
  State& state = TheState();
  const uintptr_t handle = ++state.lastResponseHandle;
  FlutterDesktopMessage record{};
  record.struct_size = sizeof(record);
  record.channel = channel.c_str();
  record.message = message.empty() ? nullptr : message.data();
  record.message_size = message.size();
  record.response_handle =
      FakeHandle<const FlutterDesktopMessageResponseHandle*>(handle);
  const Registration registration = state.registrations.at(channel);
  registration.callback(kMessenger, &record, registration.userData);
  return handle;
}

void RunNextFrame() {
  State& state = TheState();
  FlutterDesktopOnNextFrameCallback callback = state.nextFrame;
  state.nextFrame = nullptr;
  if (callback) callback(state.nextFrameData);
}

void DeliverReply(size_t index, const std::vector<uint8_t>& reply) {
  const PendingReply pending = TheState().pendingReplies.at(index);
  pending.reply(reply.data(), reply.size(), pending.userData);
}

}  // namespace recording_embedder

using recording_embedder::Expect;
using recording_embedder::kController;
using recording_embedder::kEngine;
using recording_embedder::kMessenger;
using recording_embedder::kRegistrar;
using recording_embedder::kView;
using recording_embedder::kViewWindow;
using recording_embedder::Record;
using recording_embedder::SeenProperties;
using recording_embedder::SentResponse;
using recording_embedder::TextOrEmpty;
using recording_embedder::TheState;

extern "C" {

FlutterDesktopEngineRef FlutterDesktopEngineCreate(
    const FlutterDesktopEngineProperties* properties) {
  Record("EngineCreate");
  SeenProperties& seen = TheState().properties;
  seen.assetsPath = TextOrEmpty(properties->assets_path);
  seen.icuDataPath = TextOrEmpty(properties->icu_data_path);
  seen.aotLibraryPath = TextOrEmpty(properties->aot_library_path);
  seen.entrypointWasNull = properties->dart_entrypoint == nullptr;
  seen.entrypoint = TextOrEmpty(properties->dart_entrypoint);
  seen.argc = properties->dart_entrypoint_argc;
  seen.argvWasNull = properties->dart_entrypoint_argv == nullptr;
  for (int32_t i = 0; i < properties->dart_entrypoint_argc; ++i) {
    seen.arguments.push_back(properties->dart_entrypoint_argv[i]);
  }
  seen.engineOption1 = properties->engine_option_1;
  seen.engineOption2 = properties->engine_option_2;
  return TheState().engineCreationFails ? nullptr : kEngine;
}

FlutterDesktopMessengerRef FlutterDesktopEngineGetMessenger(
    FlutterDesktopEngineRef engine) {
  Record("EngineGetMessenger");
  return engine == kEngine ? kMessenger : nullptr;
}

bool FlutterDesktopEngineDestroy(FlutterDesktopEngineRef engine) {
  Record("EngineDestroy");
  Expect(engine, kEngine);
  return true;
}

void FlutterDesktopEngineSetNextFrameCallback(
    FlutterDesktopEngineRef engine, FlutterDesktopOnNextFrameCallback callback,
    void* user_data) {
  Record("EngineSetNextFrameCallback");
  Expect(engine, kEngine);
  TheState().nextFrame = callback;
  TheState().nextFrameData = user_data;
}

void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngineRef engine) {
  Record("EngineReloadSystemFonts");
  Expect(engine, kEngine);
}

FlutterDesktopPluginRegistrarRef FlutterDesktopEngineGetPluginRegistrar(
    FlutterDesktopEngineRef engine, const char* plugin_name) {
  Record("EngineGetPluginRegistrar " + TextOrEmpty(plugin_name));
  Expect(engine, kEngine);
  return kRegistrar;
}

FlutterDesktopViewControllerRef FlutterDesktopViewControllerCreate(
    int32_t width, int32_t height, FlutterDesktopEngineRef engine) {
  Record("ViewControllerCreate " + std::to_string(width) + "x" +
         std::to_string(height));
  if (engine == nullptr || TheState().viewControllerCreationFails) {
    return nullptr;
  }
  Expect(engine, kEngine);
  return kController;
}

FlutterDesktopViewRef FlutterDesktopViewControllerGetView(
    FlutterDesktopViewControllerRef controller) {
  Record("ViewControllerGetView");
  Expect(controller, kController);
  return kView;
}

void FlutterDesktopViewControllerDestroy(
    FlutterDesktopViewControllerRef controller) {
  Record("ViewControllerDestroy");
  Expect(controller, kController);
}

void FlutterDesktopViewControllerForceRedraw(
    FlutterDesktopViewControllerRef controller) {
  Record("ViewControllerForceRedraw");
  Expect(controller, kController);
}

bool FlutterDesktopViewControllerHandleTopLevelWindowProc(
    FlutterDesktopViewControllerRef controller, HWND, UINT, WPARAM, LPARAM,
    LRESULT* result) {
  Record("ViewControllerHandleTopLevelWindowProc");
  Expect(controller, kController);
  if (!TheState().topLevelResult) return false;
  *result = *TheState().topLevelResult;
  return true;
}

HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef view) {
  Record("ViewGetHWND");
  Expect(view, kView);
  return kViewWindow;
}

UINT FlutterDesktopGetDpiForMonitor(HMONITOR) {
  Record("GetDpiForMonitor");
  return 96;
}

void FlutterDesktopResyncOutputStreams(void) { Record("ResyncOutputStreams"); }

bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger,
                                 const char* channel, const uint8_t* message,
                                 size_t message_size) {
  Record("MessengerSend " + TextOrEmpty(channel));
  Expect(messenger, kMessenger);
  TheState().sentMessages.emplace_back(message, message + message_size);
  return true;
}

bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef messenger,
                                          const char* channel,
                                          const uint8_t* message,
                                          size_t message_size,
                                          FlutterDesktopBinaryReply reply,
                                          void* user_data) {
  Record("MessengerSendWithReply " + TextOrEmpty(channel));
  Expect(messenger, kMessenger);
  TheState().sentMessages.emplace_back(message, message + message_size);
  if (!TheState().sendWithReplyAccepted) return false;
  TheState().pendingReplies.push_back({TextOrEmpty(channel), reply, user_data});
  return true;
}

void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger,
                                        const char* channel,
                                        FlutterDesktopMessageCallback callback,
                                        void* user_data) {
  Record("MessengerSetCallback " + TextOrEmpty(channel));
  Expect(messenger, kMessenger);
  if (callback == nullptr) {
    TheState().registrations.erase(TextOrEmpty(channel));
  } else {
    TheState().registrations[TextOrEmpty(channel)] = {callback, user_data};
  }
}

void FlutterDesktopMessengerSendResponse(
    FlutterDesktopMessengerRef messenger,
    const FlutterDesktopMessageResponseHandle* handle, const uint8_t* data,
    size_t data_length) {
  Record("MessengerSendResponse");
  Expect(messenger, kMessenger);
  SentResponse response;
  response.responseHandle = reinterpret_cast<uintptr_t>(handle);
  response.dataWasNull = data == nullptr;
  if (data != nullptr) response.bytes.assign(data, data + data_length);
  TheState().responses.push_back(std::move(response));
}

FlutterDesktopMessengerRef FlutterDesktopMessengerAddRef(
    FlutterDesktopMessengerRef messenger) {
  Record("MessengerAddRef");
  Expect(messenger, kMessenger);
  ++TheState().messengerReferences;
  return messenger;
}

void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger) {
  Record("MessengerRelease");
  Expect(messenger, kMessenger);
  --TheState().messengerReferences;
}

FlutterDesktopMessengerRef FlutterDesktopMessengerLock(
    FlutterDesktopMessengerRef messenger) {
  Record("MessengerLock");
  Expect(messenger, kMessenger);
  if (TheState().lockReturnsNothing) return nullptr;
  ++TheState().locksHeld;
  return messenger;
}

void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef messenger) {
  Record("MessengerUnlock");
  Expect(messenger, kMessenger);
  --TheState().locksHeld;
}

bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger) {
  Record("MessengerIsAvailable");
  Expect(messenger, kMessenger);
  return TheState().messengerAvailable;
}

}  // extern "C"
