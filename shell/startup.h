// What the entry point does before the window exists: the console for
// diagnostics, the command line, the description of the engine's files.
#ifndef SHELL_STARTUP_H_
#define SHELL_STARTUP_H_

#include <string>
#include <vector>

#include "messaging/engine_project.h"

namespace shell {

// Opens a new console and points standard output and error, ours and the
// engine library's, at it. When no console can be had nothing changes; a
// stream that cannot be reopened falls back to a copy of standard output's
// descriptor.
void OpenDebugConsole();

// The process's arguments after the program name, as UTF-8, in order. An
// argument that is not valid UTF-16 becomes an empty string in its place; a
// command line that cannot be split gives no arguments.
std::vector<std::string> ReadCommandLineArguments();

// The engine's files in `folder`: folder\flutter_assets, folder\icudtl.dat
// and folder\app.so, joined as they are, with no entry point or arguments.
EngineProject EngineProjectFor(const std::wstring& folder);

}  // namespace shell

#endif  // SHELL_STARTUP_H_
