#include "shell/startup.h"

// shellapi.h needs windows.h before it.
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on
#include <io.h>

#include <cstdio>
#include <iostream>
#include <memory>

#include "messaging/flutter_windows.h"
#include "win/text.h"

namespace shell {
namespace {

// The array CommandLineToArgvW allocates; LocalFree is its one release.
struct LocalFreeDeleter {
  void operator()(LPWSTR* arguments) const { LocalFree(arguments); }
};
using ArgumentArray = std::unique_ptr<LPWSTR[], LocalFreeDeleter>;

// Points `stream` at the console; on failure the stream's descriptor becomes
// a copy of standard output's.
void ReopenOnConsole(FILE* stream, int descriptor) {
  FILE* reopened = nullptr;  // The same object as `stream`; not kept.
  if (freopen_s(&reopened, "CONOUT$", "w", stream) != 0) {
    _dup2(_fileno(stdout), descriptor);
  }
}

}  // namespace

void OpenDebugConsole() {
  if (!AllocConsole()) return;
  ReopenOnConsole(stdout, 1);
  ReopenOnConsole(stderr, 2);
  std::ios::sync_with_stdio(true);
  // The engine library has a runtime of its own, with its own streams.
  FlutterDesktopResyncOutputStreams();
}

std::vector<std::string> ReadCommandLineArguments() {
  int count = 0;
  const ArgumentArray arguments(CommandLineToArgvW(GetCommandLineW(), &count));
  if (!arguments) return {};
  std::vector<std::string> converted;
  for (int index = 1; index < count; ++index) {  // 0 is the program's name.
    converted.push_back(win::WideToUtf8(arguments[index]));
  }
  return converted;
}

EngineProject EngineProjectFor(const std::wstring& folder) {
  EngineProject project;
  project.assetsPath = folder + L"\\flutter_assets";
  project.icuDataPath = folder + L"\\icudtl.dat";
  project.aotLibraryPath = folder + L"\\app.so";
  return project;
}

}  // namespace shell
