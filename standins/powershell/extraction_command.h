// The one command line the PowerShell stand-in understands: the host's
// extraction call,
//   powershell.exe -NoProfile -ExecutionPolicy Bypass -Command
//     "Expand-Archive -LiteralPath '<archive>' -DestinationPath '<folder>'
//     -Force"
// (-Path in place of -LiteralPath too) read from the raw command line,
// because the text after -Command is PowerShell source, not a list of
// arguments.
#ifndef STANDINS_POWERSHELL_EXTRACTION_COMMAND_H_
#define STANDINS_POWERSHELL_EXTRACTION_COMMAND_H_

#include <string>

namespace powershell {

struct ExtractionCommand {
  std::wstring archive;
  std::wstring destination;  // Its wildcard escapes read.
  // Empty when the command line was understood; else why not, in English.
  std::string error;
};

// Parses a whole command line as GetCommandLineW gives it, program name
// first (whatever it is). Portable: no Windows headers.
ExtractionCommand ParseExtractionCommand(const std::wstring& command_line);

}  // namespace powershell

#endif  // STANDINS_POWERSHELL_EXTRACTION_COMMAND_H_
