#include "messaging/flutter_engine.h"

#include <iostream>
#include <utility>
#include <vector>

#include "messaging/callback_guard.h"

namespace flutter {
namespace {

// The argument pointers refer into the project and live only as long as
// argumentPointers; the embedder copies them during engine creation.
EngineProperties PropertiesOf(const EngineProject& project,
                              std::vector<const char*>& argumentPointers) {
  argumentPointers.clear();
  for (const std::string& argument : project.entrypointArguments) {
    argumentPointers.push_back(argument.c_str());
  }
  EngineProperties properties{};
  properties.assets_path = project.assetsPath.c_str();
  properties.icu_data_path = project.icuDataPath.c_str();
  properties.aot_library_path = project.aotLibraryPath.c_str();
  properties.dart_entrypoint = project.entrypoint.c_str();
  properties.dart_entrypoint_argc =
      static_cast<int32_t>(argumentPointers.size());
  properties.dart_entrypoint_argv =
      argumentPointers.empty() ? nullptr : argumentPointers.data();
  properties.engine_option_1 = project.engineOption1;
  properties.engine_option_2 = project.engineOption2;
  return properties;
}

}  // namespace

FlutterEngine::FlutterEngine(const EngineProject& project) {
  std::vector<const char*> argumentPointers;
  const EngineProperties properties = PropertiesOf(project, argumentPointers);
  engineHandle = FlutterDesktopEngineCreate(&properties);
  // Nothing says an embedder accepts a null engine, so without one it is
  // asked for nothing.
  messenger = std::make_unique<BinaryMessengerImpl>(
      engineHandle == nullptr ? nullptr
                              : FlutterDesktopEngineGetMessenger(engineHandle));
}

FlutterEngine::~FlutterEngine() {
  if (engineHandle != nullptr && ownsEngine) {
    FlutterDesktopEngineDestroy(engineHandle);
  }
  engineHandle = nullptr;
  nextFrameCallback = nullptr;
  messenger.reset();
}

BinaryMessenger* FlutterEngine::Messenger() { return messenger.get(); }

FlutterDesktopEngineRef FlutterEngine::ReleaseEngineHandle() {
  ownsEngine = false;
  return engineHandle;
}

void FlutterEngine::ReloadSystemFonts() {
  if (engineHandle == nullptr) return;
  FlutterDesktopEngineReloadSystemFonts(engineHandle);
}

void FlutterEngine::SetNextFrameCallback(std::function<void()> callback) {
  nextFrameCallback = std::move(callback);
  if (engineHandle == nullptr) return;  // No engine, so no frame will come.
  FlutterDesktopEngineSetNextFrameCallback(engineHandle, OnNextFrame, this);
}

FlutterDesktopPluginRegistrarRef FlutterEngine::PluginRegistrarFor(
    const std::string& pluginName) {
  if (engineHandle == nullptr) {
    std::cerr << "Cannot get plugin registrar on an engine that isn't "
                 "running; call Run first."
              << std::endl;
    return nullptr;
  }
  return FlutterDesktopEngineGetPluginRegistrar(engineHandle,
                                                pluginName.c_str());
}

void FlutterEngine::OnNextFrame(void* engineWrapper) {
  RunGuarded("the next-frame callback", [engineWrapper] {
    auto* engine = static_cast<FlutterEngine*>(engineWrapper);
    // Taken out before running, so that the callback may set a new one
    // without destroying itself while it runs.
    std::function<void()> callback = std::move(engine->nextFrameCallback);
    engine->nextFrameCallback = nullptr;
    if (callback) callback();
  });
}

}  // namespace flutter
