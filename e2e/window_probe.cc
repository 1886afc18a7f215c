// Test-only probe of the host's top-level window, run under Wine beside the
// host by the end-to-end suite; not part of the product. It carries out its
// command-line words in order and prints one line per result on stdout:
//
//   wait-visible SECONDS  waits until the window exists and is visible;
//                         "visible" or "not visible"
//   state                 "window LEFT TOP WIDTH HEIGHT visible|hidden",
//                         or "no window"
//   client                "client LEFT TOP WIDTH HEIGHT": the client area
//                         on the screen, or "no window"
//   send MSG WPARAM LPARAM  SendMessageTimeout (30 s); "sent MSG result R"
//   post MSG WPARAM LPARAM  PostMessage; "posted MSG"
//   hide                  hides the window (ShowWindow SW_HIDE); "hidden"
//   reactivate            activates a window of the probe's own, then the
//                         host's window again, as a user switching windows
//                         would; "reactivated", or "not reactivated"
//   usage                 "usage PID handles N table-handles N private BYTES
//                         pagefile BYTES" of the window's process, through
//                         OpenProcess: GetProcessHandleCount, the handles the
//                         system's handle table lists for it,
//                         GetProcessMemoryInfo's PrivateUsage and
//                         PagefileUsage; or "no window", or "cannot query
//                         process PID"
//
// Numbers may be decimal or 0x-prefixed. The window is the first top-level
// window of the host's class. The probe is DPI aware, so that it sees the
// physical pixels the host works in. Exit code 0 when every word was carried
// out, 1 when a window was missing or a word was not understood.
#include <windows.h>
// psapi.h needs the types of windows.h.
#include <psapi.h>
#include <winternl.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "win/handles.h"

namespace {

constexpr wchar_t kWindowClass[] = L"FLUTTER_RUNNER_WIN32_WINDOW";

void BecomeDpiAware() {
  using SetContext = BOOL(WINAPI*)(HANDLE);
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  const auto setContext = reinterpret_cast<SetContext>(reinterpret_cast<void*>(
      GetProcAddress(user32, "SetProcessDpiAwarenessContext")));
  // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
  if (setContext == nullptr || !setContext(reinterpret_cast<HANDLE>(-4))) {
    SetProcessDPIAware();
  }
}

HWND HostWindow() { return FindWindowW(kWindowClass, nullptr); }

bool Number(const char* text, unsigned long long* value) {
  char* end = nullptr;
  *value = std::strtoull(text, &end, 0);
  return end != text && *end == '\0';
}

bool WaitVisible(double seconds) {
  const ULONGLONG deadline =
      GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
  do {
    HWND window = HostWindow();
    if (window != nullptr && IsWindowVisible(window)) return true;
    Sleep(100);
  } while (GetTickCount64() < deadline);
  return false;
}

bool PrintState() {
  HWND window = HostWindow();
  RECT rect;
  if (window == nullptr || !GetWindowRect(window, &rect)) {
    std::printf("no window\n");
    return false;
  }
  std::printf("window %ld %ld %ld %ld %s\n", rect.left, rect.top,
              rect.right - rect.left, rect.bottom - rect.top,
              IsWindowVisible(window) ? "visible" : "hidden");
  return true;
}

bool PrintClientArea() {
  HWND window = HostWindow();
  RECT rect;
  POINT origin = {0, 0};
  if (window == nullptr || !GetClientRect(window, &rect) ||
      !ClientToScreen(window, &origin)) {
    std::printf("no window\n");
    return false;
  }
  std::printf("client %ld %ld %ld %ld\n", origin.x, origin.y, rect.right,
              rect.bottom);
  return true;
}

// send or post with the three numbers at words[0..2].
bool Deliver(bool send, char** words) {
  unsigned long long message, wparam, lparam;
  if (!Number(words[0], &message) || !Number(words[1], &wparam) ||
      !Number(words[2], &lparam)) {
    std::printf("bad numbers\n");
    return false;
  }
  HWND window = HostWindow();
  if (window == nullptr) {
    std::printf("no window\n");
    return false;
  }
  if (!send) {
    const BOOL posted =
        PostMessageW(window, static_cast<UINT>(message),
                     static_cast<WPARAM>(wparam), static_cast<LPARAM>(lparam));
    std::printf(posted ? "posted 0x%llx\n" : "post of 0x%llx failed\n",
                message);
    return posted != FALSE;
  }
  DWORD_PTR result = 0;
  const LRESULT sent = SendMessageTimeoutW(
      window, static_cast<UINT>(message), static_cast<WPARAM>(wparam),
      static_cast<LPARAM>(lparam), SMTO_NORMAL, 30000, &result);
  if (sent == 0) {
    std::printf("send of 0x%llx failed\n", message);
    return false;
  }
  std::printf("sent 0x%llx result %llu\n", message,
              static_cast<unsigned long long>(result));
  return true;
}

void PumpFor(DWORD milliseconds) {
  const ULONGLONG deadline = GetTickCount64() + milliseconds;
  MSG message;
  while (GetTickCount64() < deadline) {
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      DispatchMessageW(&message);
    }
    Sleep(20);
  }
}

bool Reactivate() {
  HWND window = HostWindow();
  if (window == nullptr) {
    std::printf("no window\n");
    return false;
  }
  HWND own = CreateWindowExW(0, L"STATIC", L"window probe",
                             WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                             nullptr, nullptr, nullptr, nullptr);
  SetForegroundWindow(own);
  PumpFor(300);
  const bool away = GetForegroundWindow() == own;
  SetForegroundWindow(window);
  PumpFor(300);
  const bool back = GetForegroundWindow() == window;
  DestroyWindow(own);
  std::printf(away && back ? "reactivated\n" : "not reactivated\n");
  return away && back;
}

// Wine's GetProcessHandleCount answers 0 for every process; the system's
// handle table, which lists each handle with its owner, is what Wine keeps.
bool CountTableHandles(DWORD processId, unsigned long* count) {
  constexpr NTSTATUS kLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);
  constexpr size_t kMaxBytes = size_t{256} << 20;
  std::vector<ULONG_PTR> buffer(size_t{1} << 13);
  NTSTATUS status = kLengthMismatch;
  while (status == kLengthMismatch &&
         buffer.size() * sizeof(ULONG_PTR) <= kMaxBytes) {
    ULONG needed = 0;
    status = NtQuerySystemInformation(
        SystemHandleInformation, buffer.data(),
        static_cast<ULONG>(buffer.size() * sizeof(ULONG_PTR)), &needed);
    if (status == kLengthMismatch) buffer.resize(buffer.size() * 2);
  }
  if (status != 0) return false;
  const auto* table =
      reinterpret_cast<const SYSTEM_HANDLE_INFORMATION*>(buffer.data());
  *count = 0;
  for (ULONG i = 0; i < table->Count; ++i) {
    if (table->Handle[i].OwnerPid == processId) ++*count;
  }
  return true;
}

// What a soak watches for leaks in the host: its handles and its memory.
// Windows defines PrivateUsage and PagefileUsage alike, as the process's
// commit charge; Wine fills in only the second for another process.
bool PrintUsage() {
  HWND window = HostWindow();
  DWORD processId = 0;
  if (window == nullptr || GetWindowThreadProcessId(window, &processId) == 0) {
    std::printf("no window\n");
    return false;
  }
  const win::UniqueKernelHandle process(OpenProcess(
      PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
  DWORD handles = 0;
  unsigned long tableHandles = 0;
  PROCESS_MEMORY_COUNTERS_EX memory = {};
  memory.cb = sizeof memory;
  if (!process.Valid() || !GetProcessHandleCount(process.Get(), &handles) ||
      !CountTableHandles(processId, &tableHandles) ||
      !GetProcessMemoryInfo(process.Get(),
                            reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                            sizeof memory)) {
    std::printf("cannot query process %lu\n", processId);
    return false;
  }
  std::printf(
      "usage %lu handles %lu table-handles %lu private %llu "
      "pagefile %llu\n",
      processId, handles, tableHandles,
      static_cast<unsigned long long>(memory.PrivateUsage),
      static_cast<unsigned long long>(memory.PagefileUsage));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  BecomeDpiAware();
  bool ok = true;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "wait-visible" && i + 1 < argc) {
      const bool visible = WaitVisible(std::atof(argv[++i]));
      std::printf(visible ? "visible\n" : "not visible\n");
    } else if (word == "state") {
      ok = PrintState() && ok;
    } else if (word == "client") {
      ok = PrintClientArea() && ok;
    } else if ((word == "send" || word == "post") && i + 3 < argc) {
      ok = Deliver(word == "send", argv + i + 1) && ok;
      i += 3;
    } else if (word == "reactivate") {
      ok = Reactivate() && ok;
    } else if (word == "usage") {
      ok = PrintUsage() && ok;
    } else if (word == "hide") {
      HWND window = HostWindow();
      if (window != nullptr) ShowWindow(window, SW_HIDE);
      std::printf(window != nullptr ? "hidden\n" : "no window\n");
      ok = window != nullptr && ok;
    } else {
      std::printf("not understood: %s\n", word.c_str());
      return 1;
    }
    std::fflush(stdout);
  }
  return ok ? 0 : 1;
}
