// The core manager's operating-system calls on Windows.

#ifndef CORE_WINDOWS_PLATFORM_H_
#define CORE_WINDOWS_PLATFORM_H_

#include "core/platform.h"
#include "win/handles.h"

namespace core {

class WindowsPlatform : public Platform {
 public:
  uint32_t ModuleFileName(wchar_t* buffer, uint32_t size) override;
  std::unique_ptr<RegistryKey> OpenCurrentUserKey(
      const std::wstring& path) override;
  std::unique_ptr<RegistryKey> CreateCurrentUserKey(
      const std::wstring& path) override;
  long ReadCurrentUserValue(const std::wstring& path, const std::wstring& name,
                            uint32_t* type,
                            std::vector<uint8_t>* data) override;
  void NotifyInternetOption(uint32_t option) override;
  uint32_t InterfaceTableSize(uint32_t* size) override;
  uint32_t ReadInterfaceTable(uint32_t size,
                              std::vector<InterfaceRow>* rows) override;
  bool ListeningTcpSockets(std::vector<TcpListener>* listeners) override;
  uint64_t TickCount() override;
  std::unique_ptr<Process> StartHiddenProcess(
      const std::wstring& program, const std::wstring& commandLine) override;
  std::wstring SystemDirectory() override;
  bool ProcessesWithImage(
      const std::wstring& imagePath,
      std::vector<std::unique_ptr<Process>>* found) override;
  uint32_t CurrentProcessId() override;
  bool ProcessIds(std::vector<uint32_t>* ids) override;
  std::unique_ptr<NamedObject> CreateNamedMutex(
      const std::wstring& name) override;
  bool NamedMutexExists(const std::wstring& name) override;
  void Sleep(uint32_t milliseconds) override;
  long DownloadToFile(const std::wstring& url,
                      const std::wstring& path) override;
  std::wstring ShortPathName(const std::wstring& path) override;
  bool CopyOneFile(const std::wstring& from, const std::wstring& to,
                   bool overwrite) override;
};

}  // namespace core

#endif  // CORE_WINDOWS_PLATFORM_H_
