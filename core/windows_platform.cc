#include "core/windows_platform.h"

// windows.h and winsock2.h come first, through win/handles.h: the other SDK
// headers build on them.
#include <ws2ipdef.h>
// clang-format off
#include <iphlpapi.h>
// clang-format on
#include <urlmon.h>
#include <wininet.h>

#include <cstddef>
#include <cstring>
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

  long DeleteValue(const std::wstring& name) override {
    return RegDeleteValueW(key_.Get(), name.c_str());
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

class WindowsNamedObject : public NamedObject {
 public:
  explicit WindowsNamedObject(win::UniqueKernelHandle handle)
      : handle_(std::move(handle)) {}

 private:
  win::UniqueKernelHandle handle_;
};

// The listening rows of GetExtendedTcpTable for `family`, read into a
// buffer as large as the table asks for (it may grow between the calls).
// The OWNER_PID class: the BASIC ones exist for IPv4 only, and Windows
// refuses them for IPv6.
template <typename Table>
bool ReadListenerTable(ULONG family, std::vector<uint8_t>* buffer) {
  DWORD size = 0;
  DWORD result = ERROR_INSUFFICIENT_BUFFER;
  for (int attempt = 0; attempt < 4 && result == ERROR_INSUFFICIENT_BUFFER;
       ++attempt) {
    buffer->assign(size > sizeof(Table) ? size : sizeof(Table), 0);
    size = static_cast<DWORD>(buffer->size());
    result = GetExtendedTcpTable(buffer->data(), &size, FALSE, family,
                                 TCP_TABLE_OWNER_PID_LISTENER, 0);
  }
  return result == NO_ERROR;
}

// The rows that lie wholly within the buffer, whatever the count claims.
template <typename Table>
size_t RowsWithin(const std::vector<uint8_t>& buffer) {
  const auto* table = reinterpret_cast<const Table*>(buffer.data());
  const size_t header = offsetof(Table, table);
  const size_t room = (buffer.size() - header) / sizeof(table->table[0]);
  return table->dwNumEntries < room ? table->dwNumEntries : room;
}

// The table keeps each port in its low 16 bits, in network byte order.
uint16_t HostPort(DWORD networkOrderPort) {
  return static_cast<uint16_t>((networkOrderPort & 0xFF) << 8 |
                               (networkOrderPort >> 8 & 0xFF));
}

TcpListener ListenerOf(const MIB_TCPROW_OWNER_PID& row) {
  TcpListener listener;
  std::memcpy(listener.address.data(), &row.dwLocalAddr, 4);
  listener.port = HostPort(row.dwLocalPort);
  return listener;
}

TcpListener ListenerOf(const MIB_TCP6ROW_OWNER_PID& row) {
  TcpListener listener;
  listener.ipv6 = true;
  std::memcpy(listener.address.data(), row.ucLocalAddr, 16);
  listener.port = HostPort(row.dwLocalPort);
  return listener;
}

// Appends the listeners of `family`'s table; false when it cannot be read.
template <typename Table>
bool ReadListeners(ULONG family, std::vector<TcpListener>* listeners) {
  std::vector<uint8_t> buffer;
  if (!ReadListenerTable<Table>(family, &buffer)) return false;
  const auto* table = reinterpret_cast<const Table*>(buffer.data());
  for (size_t i = 0; i < RowsWithin<Table>(buffer); ++i) {
    listeners->push_back(ListenerOf(table->table[i]));
  }
  return true;
}

// The text a Windows call fills in, asked for twice: `call(buffer, size)`
// answers the units it needs, NUL included, or those it wrote, without it;
// empty when it fails or the text grew in between.
template <typename Call>
std::wstring TextOf(Call call) {
  const DWORD needed = call(nullptr, 0);
  if (needed == 0) return {};
  std::wstring text(needed, L'\0');
  const DWORD written = call(&text[0], needed);
  if (written == 0 || written >= needed) return {};
  text.resize(written);
  return text;
}

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

std::unique_ptr<RegistryKey> WindowsPlatform::CreateCurrentUserKey(
    const std::wstring& path) {
  win::UniqueHkey key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr,
                      REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                      key.Put(), nullptr) != ERROR_SUCCESS) {
    return nullptr;
  }
  return std::make_unique<WindowsRegistryKey>(std::move(key));
}

long WindowsPlatform::ReadCurrentUserValue(const std::wstring& path,
                                           const std::wstring& name,
                                           uint32_t* type,
                                           std::vector<uint8_t>* data) {
  win::UniqueHkey key;
  const LONG opened = RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0,
                                    KEY_QUERY_VALUE, key.Put());
  if (opened != ERROR_SUCCESS) return opened;
  // A value may grow between asking its size and reading it.
  DWORD size = 0;
  LONG result = RegQueryValueExW(key.Get(), name.c_str(), nullptr, nullptr,
                                 nullptr, &size);
  for (int attempt = 0; attempt < 4 && result == ERROR_SUCCESS; ++attempt) {
    std::vector<uint8_t> bytes(size);
    DWORD storedType = 0;
    result = RegQueryValueExW(key.Get(), name.c_str(), nullptr, &storedType,
                              bytes.data(), &size);
    if (result == ERROR_SUCCESS) {
      bytes.resize(size);
      *type = storedType;
      *data = std::move(bytes);
      return result;
    }
    if (result == ERROR_MORE_DATA) result = ERROR_SUCCESS;
  }
  return result;
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

bool WindowsPlatform::ListeningTcpSockets(std::vector<TcpListener>* listeners) {
  std::vector<TcpListener> found;
  if (!ReadListeners<MIB_TCPTABLE_OWNER_PID>(AF_INET, &found) ||
      !ReadListeners<MIB_TCP6TABLE_OWNER_PID>(AF_INET6, &found)) {
    return false;
  }
  listeners->insert(listeners->end(), found.begin(), found.end());
  return true;
}

uint64_t WindowsPlatform::TickCount() { return GetTickCount64(); }

std::unique_ptr<Process> WindowsPlatform::StartHiddenProcess(
    const std::wstring& program, const std::wstring& commandLine) {
  // CreateProcessW may write into the command line, so it gets a copy.
  std::wstring writable = commandLine;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION information = {};
  if (!CreateProcessW(program.empty() ? nullptr : program.c_str(), &writable[0],
                      nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      nullptr, &startup, &information)) {
    return nullptr;
  }
  win::UniqueProcessInformation owned(information);
  owned.thread.Reset();  // Only the process is ever waited for.
  return std::make_unique<WindowsProcess>(std::move(owned.process));
}

std::wstring WindowsPlatform::SystemDirectory() {
  return TextOf([](wchar_t* buffer, DWORD size) {
    return static_cast<DWORD>(GetSystemDirectoryW(buffer, size));
  });
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

uint32_t WindowsPlatform::CurrentProcessId() { return GetCurrentProcessId(); }

bool WindowsPlatform::ProcessIds(std::vector<uint32_t>* ids) {
  std::vector<DWORD> found;
  if (!win::SnapshotProcessIds(&found)) return false;
  ids->insert(ids->end(), found.begin(), found.end());
  return true;
}

std::unique_ptr<NamedObject> WindowsPlatform::CreateNamedMutex(
    const std::wstring& name) {
  win::UniqueKernelHandle mutex(
      CreateMutexExW(nullptr, name.c_str(), 0, SYNCHRONIZE));
  if (!mutex) return nullptr;
  return std::make_unique<WindowsNamedObject>(std::move(mutex));
}

bool WindowsPlatform::NamedMutexExists(const std::wstring& name) {
  win::UniqueKernelHandle mutex(OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()));
  // An elevated host's mark may refuse a standard process: it is there all
  // the same.
  return mutex.Valid() || GetLastError() == ERROR_ACCESS_DENIED;
}

void WindowsPlatform::Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

long WindowsPlatform::DownloadToFile(const std::wstring& url,
                                     const std::wstring& path) {
  return URLDownloadToFileW(nullptr, url.c_str(), path.c_str(), 0, nullptr);
}

std::wstring WindowsPlatform::ShortPathName(const std::wstring& path) {
  return TextOf([&path](wchar_t* buffer, DWORD size) {
    return GetShortPathNameW(path.c_str(), buffer, size);
  });
}

bool WindowsPlatform::CopyOneFile(const std::wstring& from,
                                  const std::wstring& to, bool overwrite) {
  return CopyFileW(from.c_str(), to.c_str(), overwrite ? FALSE : TRUE) != FALSE;
}

}  // namespace core
