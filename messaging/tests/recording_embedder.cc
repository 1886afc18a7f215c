#include "messaging/tests/recording_embedder.h"

#include <cwchar>
#include <sstream>

namespace recording_embedder {
namespace {

State state;

// Records the call; a handle other than the one the double gave out counts
// as a fault.
void Record(const std::string& call, const void* handle, const void* given) {
  state.calls.push_back(call);
  if (handle != given) ++state.foreignHandleCalls;
}

// The paths are ASCII in the tests.
std::string Narrow(const wchar_t* text) {
  return std::string(text, text + std::wcslen(text));
}

std::string Quoted(const char* text) {
  return text ? "'" + std::string(text) + "'" : "null";
}

}  // namespace

// Made-up handles, never dereferenced.
const auto kEngine = reinterpret_cast<FlutterDesktopEngineRef>(0x1000);
const FlutterDesktopMessengerRef kMessenger =
    reinterpret_cast<FlutterDesktopMessengerRef>(0x2000);
const auto kController =
    reinterpret_cast<FlutterDesktopViewControllerRef>(0x3000);
const auto kView = reinterpret_cast<FlutterDesktopViewRef>(0x4000);
const HWND kViewWindow = reinterpret_cast<HWND>(0x5000);

State& Embedder() { return state; }

void ResetEmbedder() { state = State(); }

void DeliverMessage(const std::string& channel, const Bytes& message) {
  const FlutterDesktopMessage record{
      sizeof(record), channel.c_str(), message.data(), message.size(),
      reinterpret_cast<const FlutterDesktopMessageResponseHandle*>(
          ++state.lastResponseHandle)};
  const auto registration = state.registrations.at(channel);
  registration.first(kMessenger, &record, registration.second);
}

void RunNextFrame() {
  const auto nextFrame = std::exchange(state.nextFrame, {});
  if (nextFrame.first) nextFrame.first(nextFrame.second);
}

}  // namespace recording_embedder

using namespace recording_embedder;  // NOLINT: the double's own names.

extern "C" {

FlutterDesktopEngineRef FlutterDesktopEngineCreate(
    const FlutterDesktopEngineProperties* p) {
  state.calls.push_back("EngineCreate");
  std::ostringstream text;
  text << Narrow(p->assets_path) << " " << Narrow(p->icu_data_path) << " "
       << Narrow(p->aot_library_path) << " entry " << Quoted(p->dart_entrypoint)
       << " options " << p->engine_option_1 << " " << p->engine_option_2
       << " argc " << p->dart_entrypoint_argc << " argv";
  if (!p->dart_entrypoint_argv) text << " null";
  for (int32_t i = 0; p->dart_entrypoint_argv && i < p->dart_entrypoint_argc;
       ++i) {
    text << " " << Quoted(p->dart_entrypoint_argv[i]);
  }
  state.engineProperties = text.str();
  return state.engineCreationFails ? nullptr : kEngine;
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

// Not called by the tests.
void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngineRef) {}
FlutterDesktopPluginRegistrarRef FlutterDesktopEngineGetPluginRegistrar(
    FlutterDesktopEngineRef, const char*) {
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
  if (state.sendWithReplyAccepted)
    state.pendingReplies.push_back({reply, user_data});
  return state.sendWithReplyAccepted;
}

void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger,
                                        const char* channel,
                                        FlutterDesktopMessageCallback callback,
                                        void* user_data) {
  Record(std::string("MessengerSetCallback ") + channel, messenger, kMessenger);
  state.registrations.erase(channel);
  if (callback) state.registrations[channel] = {callback, user_data};
}

void FlutterDesktopMessengerSendResponse(
    FlutterDesktopMessengerRef messenger,
    const FlutterDesktopMessageResponseHandle* handle, const uint8_t* data,
    size_t size) {
  Record("MessengerSendResponse " +
             std::to_string(reinterpret_cast<uintptr_t>(handle)),
         messenger, kMessenger);
  state.responses.push_back(data ? std::optional(Bytes(data, data + size))
                                 : std::nullopt);
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
  if (!state.messengerAvailable) return nullptr;
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
