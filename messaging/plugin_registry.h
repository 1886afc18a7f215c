// Where plug-ins obtain their registrar from the engine.
#ifndef MESSAGING_PLUGIN_REGISTRY_H_
#define MESSAGING_PLUGIN_REGISTRY_H_

#include <string>

#include "messaging/flutter_windows.h"

namespace flutter {

class PluginRegistry {
 public:
  virtual ~PluginRegistry() = default;

  // Returns the registrar for the plug-in (UTF-8 name), or null when there is
  // none.
  virtual FlutterDesktopPluginRegistrarRef PluginRegistrarFor(
      const std::string& pluginName) = 0;
};

}  // namespace flutter

#endif  // MESSAGING_PLUGIN_REGISTRY_H_
