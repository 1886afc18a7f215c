// The installer's and the uninstaller's own helper: it runs from the
// installer's temporary folder and is never installed. A GUI program, so that
// no console window flashes; it answers with its exit code only.
//
//   setup-helper running EXE   0: no process of EXE runs; 1: one does
//   setup-helper end-core EXE  ends every process of EXE (the installation's
//                              core). 0: none ran; 1: all ended; 2: one still
//                              runs (it may not be ended by this user, or it
//                              outlived the bounded wait)
//   anything else              3
//
// A process list that cannot be read counts as no process: the installer's
// own file writes then fail on a file in use.
//
// The system proxy is the host's own business: the installer runs the
// installed host's proxy check once the core is ended.
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "win/processes.h"

namespace {

enum ExitCode { kNone = 0, kFound = 1, kStillRunning = 2, kUsage = 3 };

// How long a core may take to end after it was told to: a stopped core ends
// at once, so this only bounds a hung one.
constexpr DWORD kEndWaitMilliseconds = 10000;

// The processes of the program at the full path `image`, opened to be looked
// at only: a process that another user, or an elevated one, started is found
// even when it may not be ended from here.
std::vector<win::UniqueKernelHandle> ProcessesOf(const std::wstring& image) {
  std::vector<win::UniqueKernelHandle> found;
  win::OpenProcessesByImage(image, 0, &found);
  return found;
}

// The same process opened to be ended and waited for, or none. Holding
// `found` keeps its id from going to another process meanwhile.
win::UniqueKernelHandle OpenToEnd(const win::UniqueKernelHandle& found) {
  return win::UniqueKernelHandle(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE,
                                             FALSE, GetProcessId(found.Get())));
}

// TerminateProcess only starts the end: each is waited for, all within one
// bounded wait.
bool AllEnded(const std::vector<win::UniqueKernelHandle>& processes) {
  const ULONGLONG deadline = GetTickCount64() + kEndWaitMilliseconds;
  for (const auto& process : processes) {
    ULONGLONG now = GetTickCount64();
    DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
    if (WaitForSingleObject(process.Get(), left) != WAIT_OBJECT_0) {
      return false;
    }
  }
  return true;
}

ExitCode EndCore(const std::wstring& core) {
  const auto found = ProcessesOf(core);
  if (found.empty()) return kNone;
  std::vector<win::UniqueKernelHandle> ending;
  bool refused = false;
  for (const auto& process : found) {
    win::UniqueKernelHandle opened = OpenToEnd(process);
    if (!opened) {
      refused = true;
      continue;
    }
    TerminateProcess(opened.Get(), 1);
    ending.push_back(std::move(opened));
  }
  return AllEnded(ending) && !refused ? kFound : kStillRunning;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return kUsage;
  const std::wstring command = argv[1];
  if (command == L"running") {
    return ProcessesOf(argv[2]).empty() ? kNone : kFound;
  }
  if (command == L"end-core") return EndCore(argv[2]);
  return kUsage;
}
