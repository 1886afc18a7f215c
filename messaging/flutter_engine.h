// Owns the embedder's engine handle until a view controller takes it over,
// and the binary messenger over the engine's messenger.
#ifndef MESSAGING_FLUTTER_ENGINE_H_
#define MESSAGING_FLUTTER_ENGINE_H_

#include <functional>
#include <memory>
#include <string>

#include "messaging/binary_messenger.h"
#include "messaging/binary_messenger_impl.h"
#include "messaging/engine_project.h"
#include "messaging/flutter_windows.h"
#include "messaging/plugin_registry.h"

// The record the embedder starts an engine from; it points into an
// EngineProject, which must outlive the engine.
using EngineProperties = FlutterDesktopEngineProperties;

namespace flutter {

// Platform thread only. An engine the embedder could not create leaves a
// null handle behind, no exception, and a messenger over no handle; it
// surfaces when a view controller is made from it.
class FlutterEngine : public PluginRegistry {
 public:
  // Reads the project only while constructing; the embedder copies the
  // arguments, the caller keeps the path and entry-point texts alive.
  explicit FlutterEngine(const EngineProject& project);
  // Destroys the engine only while this wrapper still owns it.
  ~FlutterEngine() override;

  FlutterEngine(const FlutterEngine&) = delete;
  FlutterEngine& operator=(const FlutterEngine&) = delete;

  // Not owned by the caller; lives as long as this engine wrapper.
  BinaryMessenger* Messenger();

  // Hands responsibility for destroying the engine to the caller.
  FlutterDesktopEngineRef ReleaseEngineHandle();

  // Does nothing when there is no engine.
  void ReloadSystemFonts();

  // Runs the callback once, on the platform thread, after the next frame; a
  // callback set before and not yet run is dropped. It is taken out before it
  // runs, so it may set the next one. With no engine it is stored but never
  // runs; an exception out of it is reported on standard error and stops
  // there.
  void SetNextFrameCallback(std::function<void()> callback);

  // Null, with a line on standard error, when there is no engine.
  FlutterDesktopPluginRegistrarRef PluginRegistrarFor(
      const std::string& pluginName) override;

 private:
  static void OnNextFrame(void* engineWrapper);

  FlutterDesktopEngineRef engineHandle = nullptr;
  std::unique_ptr<BinaryMessengerImpl> messenger;
  bool ownsEngine = true;
  std::function<void()> nextFrameCallback;
};

}  // namespace flutter

#endif  // MESSAGING_FLUTTER_ENGINE_H_
