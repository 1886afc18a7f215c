// What the engine is started from: its files and the user interface's
// entry-point arguments.
#ifndef MESSAGING_ENGINE_PROJECT_H_
#define MESSAGING_ENGINE_PROJECT_H_

#include <cstdint>
#include <string>
#include <vector>

struct EngineProject {
  std::wstring assetsPath;
  std::wstring icuDataPath;
  std::wstring aotLibraryPath;
  // UTF-8; empty selects the user interface's default entry point.
  std::string entrypoint;
  // UTF-8, in the order the user interface receives them.
  std::vector<std::string> entrypointArguments;
  int32_t engineOption1 = 0;
  int32_t engineOption2 = 0;
};

#endif  // MESSAGING_ENGINE_PROJECT_H_
