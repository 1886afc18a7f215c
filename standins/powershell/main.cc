// The PowerShell stand-in: a powershell.exe that runs the host's one
// extraction command and refuses everything else. Not part of the product;
// Wine's own powershell.exe does nothing and exits 0.
#include <windows.h>

#include <cstdio>
#include <string>

#include "standins/powershell/expand_archive.h"
#include "standins/powershell/extraction_command.h"

namespace {

constexpr int kExtractionFailed = 1;
constexpr int kCommandNotUnderstood = 2;

int Refuse(int exit_code, const std::string& reason) {
  std::fprintf(stderr, "powershell stand-in: %s\n", reason.c_str());
  return exit_code;
}

}  // namespace

int main() {
  const powershell::ExtractionCommand command =
      powershell::ParseExtractionCommand(GetCommandLineW());
  if (!command.error.empty()) {
    return Refuse(kCommandNotUnderstood,
                  "unsupported command line: " + command.error);
  }
  const std::string error =
      powershell::ExpandArchive(command.archive, command.destination);
  if (!error.empty()) return Refuse(kExtractionFailed, error);
  return 0;
}
