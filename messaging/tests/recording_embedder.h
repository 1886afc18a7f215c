// An in-process double of the embedder library for native tests. It records
// every call, answers as the test configures it, and lets the test play the
// engine's part by calling the callbacks it was given.
#ifndef MESSAGING_TESTS_RECORDING_EMBEDDER_H_
#define MESSAGING_TESTS_RECORDING_EMBEDDER_H_

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "messaging/flutter_windows.h"

namespace recording_embedder {

using Bytes = std::vector<uint8_t>;

extern const FlutterDesktopMessengerRef kMessenger;
extern const HWND kViewWindow;

struct State {
  // How the double answers. An unavailable messenger also locks as null.
  bool engineCreationFails = false;
  bool viewControllerCreationFails = false;
  bool sendWithReplyAccepted = true;
  bool messengerAvailable = true;
  std::optional<LRESULT> topLevelResult;  // Handled when present.

  // Each call as its name without "FlutterDesktop", plus " <channel>" for
  // messenger calls that name one and " <handle>" for responses.
  std::vector<std::string> calls;
  int foreignHandleCalls = 0;   // Calls with a handle the double never gave.
  int messengerReferences = 0;  // AddRef calls minus Release calls.
  int locksHeld = 0;            // Lock calls minus Unlock calls.
  // The engine properties: paths, entry point, options and arguments.
  std::string engineProperties;

  std::map<std::string, std::pair<FlutterDesktopMessageCallback, void*>>
      registrations;
  uintptr_t lastResponseHandle = 0;
  std::vector<std::optional<Bytes>> responses;  // None: null bytes.
  std::vector<std::pair<FlutterDesktopBinaryReply, void*>> pendingReplies;
  std::pair<FlutterDesktopOnNextFrameCallback, void*> nextFrame;
};

State& Embedder();
void ResetEmbedder();

// Delivers a message to the channel's registered callback, as the engine
// would, with the response handle 1 for the test's first message, 2 next...
void DeliverMessage(const std::string& channel, const Bytes& message);
// Runs the pending next-frame callback once, if any.
void RunNextFrame();

}  // namespace recording_embedder

#endif  // MESSAGING_TESTS_RECORDING_EMBEDDER_H_
