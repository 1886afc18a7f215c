// The installer's and the uninstaller's own helper: it runs from the
// installer's temporary folder and is never installed. A GUI program, so that
// no console window flashes; it answers with its exit code only.
//
//   setup-helper running EXE   0: no process of EXE runs; 1: one does
//   setup-helper end-core EXE  ends every process of EXE (the installation's
//                              core). 0: none ran; 1: ended; 2: one still runs
//                              after the bounded wait.
//   anything else              3
//
// The system proxy is the host's own business: the installer runs the
// installed host's proxy check once the core is ended.
#include <windows.h>

#include <string>
#include <vector>

#include "win/processes.h"

namespace {

enum ExitCode { kNone = 0, kFound = 1, kStillRunning = 2, kUsage = 3 };

// How long a core may take to end after it was told to: a stopped core ends
// at once, so this only bounds a hung one.
constexpr DWORD kEndWaitMilliseconds = 10000;

// The processes of the program at the full path `image`, opened with
// `access`; none when the process list cannot be read.
std::vector<win::UniqueKernelHandle> ProcessesOf(const std::wstring& image,
                                                 DWORD access) {
  std::vector<win::UniqueKernelHandle> found;
  win::OpenProcessesByImage(image, access, &found);
  return found;
}

ExitCode EndCore(const std::wstring& core) {
  auto processes = ProcessesOf(core, PROCESS_TERMINATE | SYNCHRONIZE);
  if (processes.empty()) return kNone;
  for (auto& process : processes) TerminateProcess(process.Get(), 1);
  const ULONGLONG deadline = GetTickCount64() + kEndWaitMilliseconds;
  for (auto& process : processes) {
    ULONGLONG now = GetTickCount64();
    DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
    if (WaitForSingleObject(process.Get(), left) != WAIT_OBJECT_0) {
      return kStillRunning;
    }
  }
  return kFound;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return kUsage;
  const std::wstring command = argv[1];
  if (command == L"running") {
    return ProcessesOf(argv[2], 0).empty() ? kNone : kFound;
  }
  if (command == L"end-core") return EndCore(argv[2]);
  return kUsage;
}
