// The installer's and the uninstaller's own helper: it runs from the
// installer's temporary folder and is never installed. A GUI program, so that
// no console window flashes; it answers with its exit code only.
//
//   setup-helper running EXE   0: no process of EXE runs; 1: one does
//   setup-helper end-core EXE  ends every process of EXE (the installation's
//                              core). 0: none ran; 1: ended; 2: one still runs
//                              after the bounded wait. Having ended one while
//                              the system proxy pointed at 127.0.0.1, as the
//                              host sets it, it switches the proxy off.
//   anything else              3
#include <windows.h>
#include <wininet.h>

#include <cwchar>
#include <string>
#include <vector>

#include "win/processes.h"

namespace {

enum ExitCode { kNone = 0, kFound = 1, kStillRunning = 2, kUsage = 3 };

// How long a core may take to end after it was told to: a stopped core ends
// at once, so this only bounds a hung one.
constexpr DWORD kEndWaitMilliseconds = 10000;

constexpr wchar_t kInternetSettings[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// The host writes "socks=127.0.0.1:" and the port in decimal; anything else
// belongs to other software and is left alone.
bool IsTheHostsProxy(const std::wstring& server) {
  const std::wstring prefix = L"socks=127.0.0.1:";
  if (server.compare(0, prefix.size(), prefix) != 0) return false;
  const std::wstring port = server.substr(prefix.size());
  return !port.empty() && port.size() <= 5 &&
         port.find_first_not_of(L"0123456789") == std::wstring::npos;
}

std::wstring ReadString(HKEY key, const wchar_t* name) {
  DWORD type = 0;
  DWORD bytes = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &bytes) !=
          ERROR_SUCCESS ||
      type != REG_SZ) {
    return {};
  }
  std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
  if (RegQueryValueExW(key, name, nullptr, nullptr,
                       reinterpret_cast<BYTE*>(&text[0]),
                       &bytes) != ERROR_SUCCESS) {
    return {};
  }
  text.resize(wcsnlen(text.c_str(), bytes / sizeof(wchar_t)));
  return text;
}

// Switches the current user's system proxy off when it is on and points at
// the host's core, and tells running programs as the host does; otherwise,
// or when the registry refuses, changes nothing.
void SwitchOffTheHostsProxy() {
  win::UniqueHkey key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kInternetSettings, 0,
                    KEY_QUERY_VALUE | KEY_SET_VALUE,
                    key.Put()) != ERROR_SUCCESS) {
    return;
  }
  DWORD enabled = 0;
  DWORD bytes = sizeof(enabled);
  DWORD type = 0;
  if (RegQueryValueExW(key.Get(), L"ProxyEnable", nullptr, &type,
                       reinterpret_cast<BYTE*>(&enabled),
                       &bytes) != ERROR_SUCCESS ||
      type != REG_DWORD || enabled == 0 ||
      !IsTheHostsProxy(ReadString(key.Get(), L"ProxyServer"))) {
    return;
  }
  const DWORD off = 0;
  LONG written =
      RegSetValueExW(key.Get(), L"ProxyEnable", 0, REG_DWORD,
                     reinterpret_cast<const BYTE*>(&off), sizeof(off));
  key.Reset();
  if (written != ERROR_SUCCESS) return;
  InternetSetOptionW(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0);
  InternetSetOptionW(nullptr, INTERNET_OPTION_REFRESH, nullptr, 0);
}

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
  SwitchOffTheHostsProxy();
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
