// An in-process double of the embedder library for native tests. It records
// every call, answers as the test configures it, and lets the test play the
// engine's part: deliver messages, run the next frame, deliver replies.
#ifndef MESSAGING_TESTS_RECORDING_EMBEDDER_H_
#define MESSAGING_TESTS_RECORDING_EMBEDDER_H_

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "messaging/flutter_windows.h"

namespace recording_embedder {

// The handles the double hands out.
extern const FlutterDesktopEngineRef kEngine;
extern const FlutterDesktopMessengerRef kMessenger;
extern const FlutterDesktopViewControllerRef kController;
extern const FlutterDesktopViewRef kView;
extern const HWND kViewWindow;
extern const FlutterDesktopPluginRegistrarRef kRegistrar;

struct Registration {
  FlutterDesktopMessageCallback callback = nullptr;
  void* userData = nullptr;
};

struct SentResponse {
  uintptr_t responseHandle = 0;
  bool dataWasNull = false;
  std::vector<uint8_t> bytes;
};

struct PendingReply {
  std::string channel;
  FlutterDesktopBinaryReply reply = nullptr;
  void* userData = nullptr;
};

// The engine properties as seen during creation, copied.
struct SeenProperties {
  std::wstring assetsPath, icuDataPath, aotLibraryPath;
  bool entrypointWasNull = false;
  std::string entrypoint;
  int32_t argc = -1;
  bool argvWasNull = false;
  std::vector<std::string> arguments;
  int32_t engineOption1 = -1, engineOption2 = -1;
};

struct State {
  // How the double answers.
  bool engineCreationFails = false;
  bool viewControllerCreationFails = false;
  bool sendWithReplyAccepted = true;
  bool messengerAvailable = true;
  bool lockReturnsNothing = false;
  std::optional<LRESULT> topLevelResult;  // Handled when present.

  // What was called: the function name without "FlutterDesktop", followed
  // by " <channel>" for messenger calls that name one.
  std::vector<std::string> calls;
  int foreignHandleCalls = 0;  // Calls with a handle the double never gave.
  SeenProperties properties;
  std::map<std::string, Registration> registrations;
  std::vector<SentResponse> responses;
  std::vector<std::vector<uint8_t>> sentMessages;
  std::vector<PendingReply> pendingReplies;
  FlutterDesktopOnNextFrameCallback nextFrame = nullptr;
  void* nextFrameData = nullptr;
  int messengerReferences = 0;  // AddRef calls minus Release calls.
  int locksHeld = 0;            // Lock calls minus Unlock calls.
  uintptr_t lastResponseHandle = 0;
};

State& Embedder();
void ResetEmbedder();

// Delivers a message to the channel's registered callback, as the engine
// would; returns the response handle it carried.
uintptr_t DeliverMessage(const std::string& channel,
                         const std::vector<uint8_t>& message);
// Runs the pending next-frame callback once, if any.
void RunNextFrame();
// Answers the sent message at that index of pendingReplies.
void DeliverReply(size_t index, const std::vector<uint8_t>& reply);

}  // namespace recording_embedder

#endif  // MESSAGING_TESTS_RECORDING_EMBEDDER_H_
