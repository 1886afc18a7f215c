// The operating-system calls of the core manager, behind one interface so
// that the logic can run against an in-memory stand-in in tests. Files are
// handled with std::filesystem directly, except for copies, which pass
// through here (libstdc++'s copy_file refuses to overwrite under Wine).

#ifndef CORE_PLATFORM_H_
#define CORE_PLATFORM_H_

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace core {

// The part of one network interface row that the traffic figures need.
struct InterfaceRow {
  uint32_t type = 0;        // 24: software loopback
  uint32_t operStatus = 0;  // 5: operational
  uint32_t inOctets = 0;
  uint32_t outOctets = 0;
};

// A TCP socket in the listening state, as the system's tables list it.
struct TcpListener {
  bool ipv6 = false;
  std::array<uint8_t, 16> address = {};  // IPv4: the first four bytes
  uint16_t port = 0;
};

// Registry value types, as the registry stores them.
inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegDword = 4;

// A registry key open for writing; destroying it closes the key.
class RegistryKey {
 public:
  virtual ~RegistryKey() = default;
  // RegSetValueExW of `data`, byte for byte, as a value of `type`: the Win32
  // result, 0 when written.
  virtual long SetValue(const std::wstring& name, uint32_t type,
                        const std::vector<uint8_t>& data) = 0;
  // RegDeleteValueW: the Win32 result, 0 when deleted, 2 when absent.
  virtual long DeleteValue(const std::wstring& name) = 0;
};

// A child process started by the host; destroying it closes the handle and
// leaves the process running.
class Process {
 public:
  static constexpr uint32_t kStillActive = 259;

  virtual ~Process() = default;
  // GetExitCodeProcess: false when the query fails; kStillActive while the
  // process runs.
  virtual bool ExitCode(uint32_t* code) = 0;
  // WaitForSingleObject for up to `milliseconds`: true when the process has
  // ended.
  virtual bool Wait(uint32_t milliseconds) = 0;
  // TerminateProcess with `exitCode`: false when it fails (the process may
  // have ended already).
  virtual bool Terminate(uint32_t exitCode) = 0;
};

// A named kernel object held open; destroying it closes the handle, and the
// object goes with its last handle.
class NamedObject {
 public:
  virtual ~NamedObject() = default;
};

class Platform {
 public:
  virtual ~Platform() = default;

  // GetModuleFileNameW for the running executable: the units written, equal
  // to `size` when the buffer was too small, 0 on failure.
  virtual uint32_t ModuleFileName(wchar_t* buffer, uint32_t size) = 0;

  // Opens the existing key HKEY_CURRENT_USER\`path` with KEY_SET_VALUE
  // access only; returns null when it cannot be opened.
  virtual std::unique_ptr<RegistryKey> OpenCurrentUserKey(
      const std::wstring& path) = 0;

  // Opens HKEY_CURRENT_USER\`path` with KEY_SET_VALUE access only, creating
  // it and its parents when missing; returns null when it cannot be had.
  virtual std::unique_ptr<RegistryKey> CreateCurrentUserKey(
      const std::wstring& path) = 0;

  // RegQueryValueExW of `name` under HKEY_CURRENT_USER\`path`, the key opened
  // with KEY_QUERY_VALUE access only: the Win32 result (0 when read, 2 when
  // the key or the value is absent), and when it is 0 the value's type and
  // bytes.
  virtual long ReadCurrentUserValue(const std::wstring& path,
                                    const std::wstring& name, uint32_t* type,
                                    std::vector<uint8_t>* data) = 0;

  // InternetSetOptionW(no handle, `option`, no buffer, 0); its outcome is
  // of no use to the callers.
  virtual void NotifyInternetOption(uint32_t option) = 0;

  // GetIfTable without a buffer: the Win32 result, 122 with the needed size
  // in bytes when there is a table to read.
  virtual uint32_t InterfaceTableSize(uint32_t* size) = 0;
  // GetIfTable into a zero-filled buffer of `size` bytes: the Win32 result,
  // and when it is 0 the rows read.
  virtual uint32_t ReadInterfaceTable(uint32_t size,
                                      std::vector<InterfaceRow>* rows) = 0;

  // GetExtendedTcpTable's listening sockets, IPv4 and IPv6, ports in host
  // byte order: false when either table cannot be read, and then
  // `listeners` is untouched.
  virtual bool ListeningTcpSockets(std::vector<TcpListener>* listeners) = 0;

  // GetTickCount64: milliseconds since the system started.
  virtual uint64_t TickCount() = 0;

  // CreateProcessW of `commandLine` with CREATE_NO_WINDOW only, no inherited
  // handles, the host's environment and current directory and a zeroed
  // STARTUPINFOW; the thread handle is closed at once. `program`, when not
  // empty, is the application name; otherwise the command line's first word
  // is looked for by the platform's search. Null when the process cannot be
  // created.
  virtual std::unique_ptr<Process> StartHiddenProcess(
      const std::wstring& program, const std::wstring& commandLine) = 0;

  // GetSystemDirectoryW: the system folder, e.g. C:\Windows\system32, with
  // no trailing separator; empty when it cannot be had.
  virtual std::wstring SystemDirectory() = 0;

  // The running processes other than the host whose executable is
  // `imagePath`, full paths compared without regard to letter case, each
  // open for ending and waiting; false when the process list cannot be read,
  // and then `found` is untouched.
  virtual bool ProcessesWithImage(
      const std::wstring& imagePath,
      std::vector<std::unique_ptr<Process>>* found) = 0;

  // GetCurrentProcessId.
  virtual uint32_t CurrentProcessId() = 0;

  // The ids of every running process, from a process snapshot: false when
  // the snapshot cannot be taken, and then `ids` is untouched.
  virtual bool ProcessIds(std::vector<uint32_t>* ids) = 0;

  // CreateMutexExW of `name`, not owned, with SYNCHRONIZE access only: null
  // when it cannot be had.
  virtual std::unique_ptr<NamedObject> CreateNamedMutex(
      const std::wstring& name) = 0;

  // Whether a mutex of `name` exists: OpenMutexW with SYNCHRONIZE access
  // succeeds, or is refused with ERROR_ACCESS_DENIED (one an elevated
  // process made).
  virtual bool NamedMutexExists(const std::wstring& name) = 0;

  // Sleep: blocks the calling thread.
  virtual void Sleep(uint32_t milliseconds) = 0;

  // URLDownloadToFileW of `url` into the file `path`: the HRESULT, negative
  // when the download failed.
  virtual long DownloadToFile(const std::wstring& url,
                              const std::wstring& path) = 0;

  // GetShortPathNameW of the existing `path`: empty when it has no short
  // form or the call fails.
  virtual std::wstring ShortPathName(const std::wstring& path) = 0;

  // CopyFileW: false when the copy fails, and always when `overwrite` is
  // false and `to` exists.
  virtual bool CopyOneFile(const std::wstring& from, const std::wstring& to,
                           bool overwrite) = 0;
};

}  // namespace core

#endif  // CORE_PLATFORM_H_
