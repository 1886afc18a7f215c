#include "core/windows_platform.h"

// windows.h comes first: the other SDK headers build on it.
#include <iphlpapi.h>
#include <urlmon.h>
#include <wininet.h>

#include <cstddef>
#include <utility>

#include "win/processes.h"

namespace core {
namespace {

class WindowsRegistryKey : public RegistryKey {
 public:
  explicit WindowsRegistryKey(win::UniqueHkey key) : key_(std::move(key)) {}

  long SetValue(const std::wstring& name, uint32_t type,
                const std::vector<uint8_t>& data) override {
    return RegSetValueExW(key_.Get(), name.c_str(), 0, type, data.data(),
                          static_cast<DWORD>(data.size()));
  }

 private:
  win::UniqueHkey key_;
};

class WindowsProcess : public Process {
 public:
  explicit WindowsProcess(win::UniqueKernelHandle handle)
      : handle_(std::move(handle)) {}

  bool ExitCode(uint32_t* code) override {
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(handle_.Get(), &exitCode)) return false;
    *code = exitCode;
    return true;
  }

  bool Wait(uint32_t milliseconds) override {
    return WaitForSingleObject(handle_.Get(), milliseconds) == WAIT_OBJECT_0;
  }

  bool Terminate(uint32_t exitCode) override {
    return TerminateProcess(handle_.Get(), exitCode) != FALSE;
  }

 private:
  win::UniqueKernelHandle handle_;
};

}  // namespace

uint32_t WindowsPlatform::ModuleFileName(wchar_t* buffer, uint32_t size) {
  return GetModuleFileNameW(nullptr, buffer, size);
}

std::unique_ptr<RegistryKey> WindowsPlatform::OpenCurrentUserKey(
    const std::wstring& path) {
  win::UniqueHkey key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_SET_VALUE,
                    key.Put()) != ERROR_SUCCESS) {
    return nullptr;
  }
  return std::make_unique<WindowsRegistryKey>(std::move(key));
}

void WindowsPlatform::NotifyInternetOption(uint32_t option) {
  InternetSetOptionW(nullptr, option, nullptr, 0);
}

uint32_t WindowsPlatform::InterfaceTableSize(uint32_t* size) {
  ULONG bytes = 0;
  const DWORD result = GetIfTable(nullptr, &bytes, FALSE);
  *size = bytes;
  return result;
}

uint32_t WindowsPlatform::ReadInterfaceTable(uint32_t size,
                                             std::vector<InterfaceRow>* rows) {
  // Allocated as MIB_IFROWs so that the table is aligned for its fields.
  std::vector<MIB_IFROW> storage(size / sizeof(MIB_IFROW) + 1);
  auto* table = reinterpret_cast<MIB_IFTABLE*>(storage.data());
  ULONG bytes = size;
  const DWORD result = GetIfTable(table, &bytes, FALSE);
  if (result != NO_ERROR) return result;
  // Never trust the row count beyond the buffer the rows were written to.
  const size_t header = offsetof(MIB_IFTABLE, table);
  const size_t room = size > header ? (size - header) / sizeof(MIB_IFROW) : 0;
  const size_t count = table->dwNumEntries < room ? table->dwNumEntries : room;
  const MIB_IFROW* row = table->table;
  for (size_t i = 0; i < count; ++i, ++row) {
    rows->push_back({row->dwType, static_cast<uint32_t>(row->dwOperStatus),
                     row->dwInOctets, row->dwOutOctets});
  }
  return result;
}

uint64_t WindowsPlatform::TickCount() { return GetTickCount64(); }

std::unique_ptr<Process> WindowsPlatform::StartHiddenProcess(
    const std::wstring& commandLine) {
  // CreateProcessW may write into the command line, so it gets a copy.
  std::wstring writable = commandLine;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION information = {};
  if (!CreateProcessW(nullptr, &writable[0], nullptr, nullptr, FALSE,
                      CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                      &information)) {
    return nullptr;
  }
  win::UniqueProcessInformation owned(information);
  owned.thread.Reset();  // Only the process is ever waited for.
  return std::make_unique<WindowsProcess>(std::move(owned.process));
}

bool WindowsPlatform::ProcessesWithImage(
    const std::wstring& imagePath,
    std::vector<std::unique_ptr<Process>>* found) {
  std::vector<win::UniqueKernelHandle> handles;
  if (!win::OpenProcessesByImage(
          imagePath,
          PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION,
          &handles)) {
    return false;
  }
  for (win::UniqueKernelHandle& handle : handles) {
    found->push_back(std::make_unique<WindowsProcess>(std::move(handle)));
  }
  return true;
}

void WindowsPlatform::Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

long WindowsPlatform::DownloadToFile(const std::wstring& url,
                                     const std::wstring& path) {
  return URLDownloadToFileW(nullptr, url.c_str(), path.c_str(), 0, nullptr);
}

bool WindowsPlatform::CopyOneFile(const std::wstring& from,
                                  const std::wstring& to, bool overwrite) {
  return CopyFileW(from.c_str(), to.c_str(), overwrite ? FALSE : TRUE) != FALSE;
}

}  // namespace core
