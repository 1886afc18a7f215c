// Test-only, not part of the product: a powershell.exe that a user could
// find lying in a Downloads folder. The download suite puts it in the host's
// working directory and beside the host; if the host ever runs it instead of
// the system's PowerShell, it leaves the file "powershell-ran.txt" holding
// its command line beside itself, and exits 0 as if it had extracted.
#include <windows.h>

#include <filesystem>
#include <fstream>

#include "win/module.h"
#include "win/text.h"

int main() {
  std::ofstream mark(
      std::filesystem::path(win::ExecutableFolder()) / "powershell-ran.txt",
      std::ios::binary);
  mark << win::WideToUtf8(GetCommandLineW()) << "\n";
  return 0;
}
