// The core manager's operating-system calls on Windows.

#ifndef CORE_WINDOWS_PLATFORM_H_
#define CORE_WINDOWS_PLATFORM_H_

#include <windows.h>

#include "core/platform.h"

namespace core {

// The one owner of an open registry key.
class UniqueHkey {
 public:
  UniqueHkey() = default;
  explicit UniqueHkey(HKEY key) : key_(key) {}
  UniqueHkey(UniqueHkey&& other) noexcept : key_(other.release()) {}
  UniqueHkey& operator=(UniqueHkey&& other) noexcept;
  UniqueHkey(const UniqueHkey&) = delete;
  UniqueHkey& operator=(const UniqueHkey&) = delete;
  ~UniqueHkey() { reset(); }

  HKEY get() const { return key_; }
  // For the out parameter of the Reg*Key* calls; closes what was held.
  HKEY* put();
  HKEY release();
  void reset();

 private:
  HKEY key_ = nullptr;
};

class WindowsPlatform : public Platform {
 public:
  uint32_t ModuleFileName(wchar_t* buffer, uint32_t size) override;
  std::unique_ptr<RegistryKey> OpenCurrentUserKey(
      const std::wstring& path) override;
  void NotifyInternetOption(uint32_t option) override;
  uint32_t InterfaceTableSize(uint32_t* size) override;
  uint32_t ReadInterfaceTable(uint32_t size,
                              std::vector<InterfaceRow>* rows) override;
  uint64_t TickCount() override;
};

}  // namespace core

#endif  // CORE_WINDOWS_PLATFORM_H_
